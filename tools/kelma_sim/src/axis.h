// One rotator axis: where it points, where it is going and how fast it turns.
#pragma once

namespace kelma {

class Axis {
public:
    Axis(double maxAngle, double degreesPerSecond) : maxAngle_(maxAngle), rate_(degreesPerSecond) {}

    // Starts turning towards angle, clamped to 0..maxAngle as the controller's end stops do.
    void Goto(double angle);
    // Stops where the axis is now.
    void Stop() { target_ = position_; }
    // Puts the axis at angle at once, standing still (a test's way to set the scene).
    void Jump(double angle);
    // Turns for the given time at the axis rate, never past the target.
    void Advance(double seconds);
    void SetRate(double degreesPerSecond) { rate_ = degreesPerSecond; }

    double Position() const { return position_; }
    double Target() const { return target_; }
    double Rate() const { return rate_; }
    double MaxAngle() const { return maxAngle_; }
    bool Moving() const { return position_ != target_; }

private:
    double Clamp(double angle) const;

    double maxAngle_;
    double rate_;
    double position_ = 0.0;
    double target_ = 0.0;
};

}  // namespace kelma
