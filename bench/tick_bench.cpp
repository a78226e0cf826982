// The cost of one tick in each mode, the cover's geometry update included, on a shown window.
// Prints one line a mode: mode, median and 99th percentile in microseconds.
#include "support.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
    for (int mode = 0; mode <= 4; ++mode) {
        Started w;
        w.window()->show();
        w.Option1(mode).setValue(true);
        w.Command1_Click(0);
        std::vector<double> micros;
        micros.reserve(calls);
        for (int i = 0; i < calls; ++i) {
            const auto start = std::chrono::steady_clock::now();
            w.Timer1_Timer();
            const auto end = std::chrono::steady_clock::now();
            micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
            if (!w.Timer1.Enabled()) // run out: "Покажи" starts the same letter over
                w.Command1_Click(0);
            if (i % 100 == 0) // let Qt paint now and then, as between real ticks
                QApplication::processEvents();
        }
        std::sort(micros.begin(), micros.end());
        std::printf("%d %.3f %.3f\n", mode, micros[micros.size() / 2],
                    micros[micros.size() * 99 / 100]);
    }
    return 0;
}
