// Two producers' threads share a pair's composition and encoding: every
// anaglyph row reaches the encoder once, in order, whichever thread hands
// it over, and is the row the whole frames give; a producer's failure and
// the encoder's reach the caller, and nothing is left waiting.
#include "cli/stream_compose.h"
#include "compose/methods.h"
#include "fixtures.h"

#include <QTest>

#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Keeps every row it is handed; throws once, on row failAt, and would take
// any row handed over after that, so that one shows.
class KeptRows final : public RowEncoder {
public:
    KeptRows(int width, int failAt = -1) : width_(width), failAt_(failAt) { }
    void write(const std::uint32_t* row) override
    {
        if (int(rows.size()) == failAt_ && !failed_) {
            failed_ = true;
            throw std::runtime_error("disk full");
        }
        rows.emplace_back(row, row + width_);
        threads.push_back(std::this_thread::get_id());
    }
    void finish() override { finished = true; }

    std::vector<std::vector<std::uint32_t>> rows;
    std::vector<std::thread::id> threads;
    bool finished = false;

private:
    int width_;
    int failAt_;
    bool failed_ = false;
};

// A producer handing over a frame's rows as a decoder does, a few at a
// time, optionally slowly, or failing at row failAt.
void produce(RowSink& sink, RowWindow& window, const TBitmap& frame, std::chrono::microseconds pause, int failAt)
{
    try {
        sink.begin(frame.width(), frame.height());
        for (int y = 0; y < frame.height();) {
            if (y == failAt)
                throw std::runtime_error("damaged at row " + std::to_string(y));
            std::uint32_t* rows[2];
            const int n = sink.room(y, std::min(2, frame.height() - y), rows);
            for (int i = 0; i < n; ++i)
                std::memcpy(rows[i], frame.scanLine(y + i), std::size_t(frame.width()) * 4);
            sink.written(y, n);
            y += n;
            if (pause.count() > 0)
                std::this_thread::sleep_for(pause);
        }
    } catch (const RowsCancelled&) {
    } catch (...) {
        window.fail(std::current_exception());
    }
}

struct Run {
    std::vector<std::vector<std::uint32_t>> rows;
    std::vector<std::thread::id> threads;
    bool finished = false;
    QString error;
};

// Left and right frames through two windows of `capacity` rows into the
// shared encoding, as the command line runs them.
Run share(const TBitmap& left, const TBitmap& right, const ComposeSettings& settings, int capacity,
    std::chrono::microseconds leftPause, std::chrono::microseconds rightPause, int rightFailsAt = -1,
    int encoderFailsAt = -1)
{
    Run run;
    RowWindow leftRows(capacity, capacity / 4), rightRows(capacity, capacity / 4);
    SharedEncoding shared(leftRows, rightRows);
    std::vector<std::thread> producers;
    const auto stop = [&] {
        leftRows.cancel();
        rightRows.cancel();
        shared.cancel();
        for (std::thread& t : producers)
            t.join();
    };
    producers.emplace_back([&] {
        produce(shared.sink(0), leftRows, left, leftPause, -1);
        shared.producerEnded();
    });
    producers.emplace_back([&] {
        produce(shared.sink(1), rightRows, right, rightPause, rightFailsAt);
        shared.producerEnded();
    });
    const CompositionPlan plan = planStream(left.width(), left.height(), settings);
    std::optional<KeptRows> encoder;
    try {
        Composer composer(plan, { &leftRows }, { &rightRows }, settings.swap);
        encoder.emplace(plan.keep.width, encoderFailsAt);
        shared.encode(composer, *encoder, plan.keep.height);
        encoder->finish();
    } catch (const std::exception& e) {
        run.error = QString::fromUtf8(e.what());
    }
    stop();
    if (encoder) {
        run.rows = encoder->rows;
        run.threads = encoder->threads;
        run.finished = encoder->finished;
    }
    return run;
}

bool sameAs(const Run& run, const TBitmap& expected)
{
    if (int(run.rows.size()) != expected.height())
        return false;
    for (int y = 0; y < expected.height(); ++y)
        if (std::memcmp(run.rows[std::size_t(y)].data(), expected.scanLine(y), std::size_t(expected.width()) * 4) != 0)
            return false;
    return true;
}

} // namespace

class TestSharedEncoding : public QObject {
    Q_OBJECT
private slots:
    // Offsets within and far past a window's rings (dy -40 with rings of 16
    // rows), blocks, swap; a producer held back so that the other fills its
    // ring and encodes what is ready, each way round.
    void everyRowOnceInOrder_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<int>("block");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<int>("slow"); // 0 none, 1 left, 2 right
        QTest::newRow("plain") << 0 << 0 << 1 << false << 0;
        QTest::newRow("offsets, left slow") << 3 << 7 << 1 << false << 1;
        QTest::newRow("far up, right slow") << -2 << -40 << 1 << true << 2;
        QTest::newRow("far down, block 4, left slow") << 5 << 40 << 4 << false << 1;
    }
    void everyRowOnceInOrder()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(int, block);
        QFETCH(bool, swap);
        QFETCH(int, slow);
        const TBitmap left = patterned(37, 120, 1), right = patterned(37, 120, 2);
        ComposeSettings s;
        s.dx = dx;
        s.dy = dy;
        s.block = block;
        s.swap = swap;
        const auto pause = std::chrono::microseconds(300);
        const Run run = share(left, right, s, 16, slow == 1 ? pause : std::chrono::microseconds(0),
            slow == 2 ? pause : std::chrono::microseconds(0));
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
        QVERIFY(run.finished);
        QVERIFY(sameAs(run, composeAnaglyph(left, right, s)));
        // The producers handed rows over: the caller only finishes what is
        // left when one of them is done.
        if (slow != 0)
            QVERIFY(run.threads.front() != std::this_thread::get_id());
    }

    // A frame damaged halfway: its failure, not a hang; the other producer,
    // its ring full, ends too.
    void aProducersFailureReachesTheCaller()
    {
        const TBitmap left = patterned(20, 200, 3), right = patterned(20, 200, 4);
        const Run run = share(left, right, ComposeSettings {}, 16, std::chrono::microseconds(0),
            std::chrono::microseconds(100), 90);
        QCOMPARE(run.error, QStringLiteral("damaged at row 90"));
        QVERIFY(!run.finished);
        QVERIFY(run.rows.size() <= 90);
    }

    // The encoder fails in a producer's turn: the caller gets the encoder's
    // error and the producers are stopped.
    void theEncodersFailureReachesTheCaller()
    {
        const TBitmap left = patterned(20, 200, 5), right = patterned(20, 200, 6);
        const Run run = share(left, right, ComposeSettings {}, 16, std::chrono::microseconds(0),
            std::chrono::microseconds(0), -1, 50);
        QCOMPARE(run.error, QStringLiteral("disk full"));
        QCOMPARE(int(run.rows.size()), 50);
        QVERIFY(!run.finished);
    }
};

QTEST_APPLESS_MAIN(TestSharedEncoding)
#include "test_shared_encoding.moc"
