// Measures a real reveal: the wall time of 100 ticks and the spread of the gaps between them.
// A measurement, not a test: it prints figures and never fails on them.
#include "support.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Started w(std::nullopt, true);
    QElapsedTimer clock;
    std::vector<qint64> at;
    w.Timer1.onTimer = [&] {
        at.push_back(clock.nsecsElapsed());
        w.Timer1_Timer();
        if (!w.Timer1.Enabled())
            QApplication::quit();
    };
    w.Option1(0).setValue(true);
    clock.start();
    w.Command1_Click(0);
    QApplication::exec();
    std::vector<double> lateness; // each gap minus the interval, in ms
    for (std::size_t i = 1; i < at.size(); ++i)
        lateness.push_back((at[i] - at[i - 1]) / 1e6 - 100.0);
    std::sort(lateness.begin(), lateness.end());
    const double p99 = lateness[std::min(lateness.size() - 1, lateness.size() * 99 / 100)];
    std::printf("ticks: %zu\n100 ticks: %.4f s (from Покажи to the last tick)\n", at.size(),
                at.back() / 1e9);
    std::printf("gap minus 100 ms: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms\n",
                lateness[lateness.size() / 2], p99, lateness.back());
    return 0;
}
