// Three-vectors for positions and velocities (km, km/s) in the prediction library's frames.
#pragma once

#include <cmath>

namespace predict {

struct Vec3 {
    double x, y, z;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(double s, Vec3 v) {
    return {s * v.x, s * v.y, s * v.z};
}
inline double Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline double Norm(Vec3 v) {
    return std::sqrt(Dot(v, v));
}

}  // namespace predict
