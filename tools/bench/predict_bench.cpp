// The prediction library's figures, printed and not checked: the SGP4/SDP4 model's positions
// per second on one core for each set of an element file (over the day after its epoch, one
// second apart) and the model's setup time. Times are processor time, so that a machine shared
// with other work still gives the figure of one core. predict_bench.sh builds it in Release and
// sets python3-sgp4's figures beside it. Each figure is a line "<label>: <value> <unit>"; a group
// of new figures is one more function in kFigureGroups.
//   predict_bench ELEMENT-FILE
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "predict/elements.h"
#include "predict/sgp4.h"

namespace {

using predict::ElementSet;
constexpr double kMinSeconds = 1.0;  // each figure is measured over at least this long
constexpr int kSecondsPerDay = 86400;

struct Figure {
    std::string label;
    double value;
    const char* unit;
};

double g_sink = 0.0;  // what the measured work computes goes here, so that it is not left out

// How many operations per second `batch` (which returns how many it did) keeps up.
template <typename Batch>
double Rate(Batch batch) {
    const std::clock_t start = std::clock();
    double operations = 0.0, seconds = 0.0;
    while (seconds < kMinSeconds) {
        operations += batch();
        seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    }
    return operations / seconds;
}

std::vector<Figure> ModelFigures(const std::vector<ElementSet>& sets) {
    std::vector<Figure> figures;
    for (const ElementSet& set : sets) {
        const predict::Sgp4Propagator model(set);
        const double rate = Rate([&model] {
            for (int second = 0; second < kSecondsPerDay; ++second)
                g_sink += model.Propagate(second / 60.0).position_km.x;
            return kSecondsPerDay;
        });
        figures.push_back({"SGP4 positions, " + set.name +
                               (model.deep_space() ? " (deep space)" : " (near earth)"),
                           rate, "per second"});
    }
    const double setups = Rate([&sets] {
        for (const ElementSet& set : sets)
            g_sink += predict::Sgp4Propagator(set).Propagate(0.0).position_km.x;
        return sets.size();
    });
    figures.push_back({"SGP4 model setup and first position", 1e6 / setups, "us per set"});
    return figures;
}

using FigureGroup = std::vector<Figure> (*)(const std::vector<ElementSet>&);
const FigureGroup kFigureGroups[] = {ModelFigures};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: predict_bench ELEMENT-FILE\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const predict::ElementFile elements = predict::ParseElementFile(text);
    if (elements.sets.empty() || !elements.problems.empty()) {
        std::fprintf(stderr, "predict_bench: %s holds no sound element sets\n", argv[1]);
        return 2;
    }
    for (const FigureGroup group : kFigureGroups) {
        for (const Figure& figure : group(elements.sets)) {
            std::printf(figure.value >= 100 ? "%s: %.0f %s\n" : "%s: %.2f %s\n",
                        figure.label.c_str(), figure.value, figure.unit);
        }
    }
    return g_sink == 0.12345 ? 1 : 0;  // never: only so that the sink is read
}
