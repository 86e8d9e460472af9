// parallelRows: every row done exactly once, and one thread budget for the
// whole process however many callers run at once.

#include "parallel_rows.h"

#include <QThreadPool>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

class ParallelRowsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Too little to share, more rows than cores, fewer rows than cores.
    void everyRowOnce()
    {
        for (const auto& [count, costPerRow] :
             {std::pair(100, 10LL), std::pair(1001, 1LL << 20), std::pair(1, 1LL << 30)}) {
            std::vector<std::atomic<int>> visits(static_cast<size_t>(count));
            parallelRows(count, costPerRow, [&, count = count](int first, int last) {
                QVERIFY(0 <= first && first < last && last <= count);
                for (int row = first; row < last; ++row)
                    ++visits[size_t(row)];
            });
            for (const auto& v : visits)
                QCOMPARE(v.load(), 1);
        }
    }

    // A batch runs one job per pool thread, each splitting its own rows: the
    // threads busy at once must never outnumber the cores.
    void concurrentCallersShareTheCores()
    {
        const int cores = std::max(1u, std::thread::hardware_concurrency());
        if (cores < 2)
            QSKIP("one core: nothing to share");
        std::atomic<int> busy{0}, peak{0};
        auto job = [&] {
            parallelRows(cores * 4, 1LL << 30, [&](int first, int last) {
                for (int row = first; row < last; ++row) {
                    const int now = ++busy;
                    for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    --busy;
                }
            });
        };
        QThreadPool* pool = QThreadPool::globalInstance();
        for (int i = 0; i < cores; ++i)
            pool->start(job);
        pool->waitForDone();
        QVERIFY2(peak <= cores,
                 qPrintable(QStringLiteral("%1 busy on %2 cores").arg(peak).arg(cores)));
        QVERIFY(peak >= 2);
    }
};

QTEST_GUILESS_MAIN(ParallelRowsTest)
#include "tst_parallel_rows.moc"
