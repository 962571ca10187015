// Trace route: the probe bytes, which received datagrams count as answers,
// the hop rules over a scripted channel, and stopping.
#include <QtTest>

#include <deque>

#include "console/trace_route.h"
#include "console/trace_runner.h"

using namespace talvek::console;

namespace {

const std::string kTimeout = "Attempt to connect timed out without establishing a connection.\r\n";
using Step = std::variant<IcmpAnswer, int>;  // per hop: the answer, or an errno of the send

// Plays back one step per hop; hop `ttl_error_at` cannot set its time-to-live.
class ScriptedChannel : public IcmpChannel {
 public:
  ScriptedChannel(std::deque<Step> steps, int ttl_error_at) : steps_(std::move(steps)), ttl_error_at_(ttl_error_at) {}
  int setTimeToLive(int ttl) override { return ttl == ttl_error_at_ ? EINVAL : 0; }
  int sendEcho(uint16_t) override {
    if (steps_.empty() || std::holds_alternative<IcmpAnswer>(steps_.front())) return 0;
    int error = std::get<int>(steps_.front());
    steps_.pop_front();
    return error;
  }
  Step receiveAnswer(uint16_t, std::chrono::milliseconds, const std::atomic<bool>& stop) override {
    // No more script: silence until stopped (bounded).
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (steps_.empty() && stop_on_silence_ && !stop.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    if (steps_.empty()) return stop.load() ? EINTR : ETIMEDOUT;
    Step step = steps_.front();
    steps_.pop_front();
    return step;
  }
  bool stop_on_silence_ = false;

 private:
  std::deque<Step> steps_;
  int ttl_error_at_;
};

TraceRequest Scripted(std::deque<Step> steps, int ttl_error_at = 0, bool stall = false) {
  TraceRequest request;
  request.destination = "10.0.0.9";
  request.host_name = [](const std::string& address) { return address == "10.0.0.9" ? "far.test" : ""; };
  request.open = [=](const std::string&, std::string&) -> std::unique_ptr<IcmpChannel> {
    auto channel = std::make_unique<ScriptedChannel>(steps, ttl_error_at);
    channel->stop_on_silence_ = stall;
    return channel;
  };
  return request;
}

std::vector<uint8_t> WithIpHeader(std::vector<uint8_t> icmp) {
  icmp.insert(icmp.begin(), 20, 0);
  icmp[0] = 0x45;
  return icmp;
}

std::vector<uint8_t> Echo(uint8_t type, uint16_t identifier, uint16_t sequence, bool ip_header = true) {
  auto request = BuildEchoRequest(identifier, sequence, 0);
  std::vector<uint8_t> icmp(request.begin(), request.begin() + 64);
  icmp[0] = type;
  return ip_header ? WithIpHeader(icmp) : icmp;
}

// An error report of `type` quoting an IP header and our request's first 8 bytes.
std::vector<uint8_t> ErrorReport(uint8_t type, uint16_t identifier, uint16_t sequence) {
  std::vector<uint8_t> report = Echo(8, identifier, sequence);
  report.resize(28);
  report.insert(report.begin(), {type, 0, 0, 0, 0, 0, 0, 0});
  return WithIpHeader(report);
}

QByteArray Bytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

class TraceRouteTest : public QObject {
  Q_OBJECT

 private slots:
  void echoRequestBytes() {
    const uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    QCOMPARE(InternetChecksum(sample), uint16_t{0x220d});  // RFC 1071's example
    auto request = BuildEchoRequest(0x1234, 0x0102, 0xA1B2C3D4);
    QCOMPARE(std::vector<uint8_t>(request.begin() + 4, request.begin() + 8), (std::vector<uint8_t>{0x34, 0x12, 2, 1}));
    QCOMPARE(InternetChecksum(request), uint16_t{0});  // a correct checksum sums to zero
  }

  void datagramsThatCountAsAnswers_data() {
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<int>("type");  // -1: not an answer
    auto short_reply = Echo(0, 77, 5);
    short_reply.resize(27);
    auto short_report = ErrorReport(11, 77, 5);
    short_report.resize(55);
    QTest::newRow("echo reply") << Bytes(Echo(0, 77, 5)) << true << 0;
    QTest::newRow("time exceeded") << Bytes(ErrorReport(11, 77, 5)) << true << 11;
    QTest::newRow("unreachable") << Bytes(ErrorReport(3, 77, 5)) << true << 3;
    QTest::newRow("datagram socket, kernel's identifier") << Bytes(Echo(0, 999, 5, false)) << false << 0;
    QTest::newRow("own request looped back") << Bytes(Echo(8, 77, 5)) << true << -1;
    QTest::newRow("late reply") << Bytes(Echo(0, 77, 4)) << true << -1;
    QTest::newRow("other program's echo") << Bytes(Echo(0, 78, 5)) << true << -1;
    QTest::newRow("late report") << Bytes(ErrorReport(11, 77, 4)) << true << -1;
    QTest::newRow("short reply") << Bytes(short_reply) << true << -1;
    QTest::newRow("short report") << Bytes(short_report) << true << -1;
    QTest::newRow("empty") << Bytes(std::vector<uint8_t>{}) << true << -1;
  }

  void datagramsThatCountAsAnswers() {
    QFETCH(QByteArray, datagram);
    QFETCH(bool, raw);
    QFETCH(int, type);
    auto answer = ParseIcmpDatagram(std::span(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size()), raw,
                                    "10.0.0.3", 77, 5, raw);
    QCOMPARE(answer ? int(answer->type) : -1, type);
    if (answer) QCOMPARE(answer->from, std::string("10.0.0.3"));
  }

  void hopLines() {
    using Lines = std::vector<std::string>;
    const std::string done = "\tfar.test\t\r\nRoute trace complete\r\n";
    const std::vector<std::tuple<std::deque<Step>, int, Lines>> cases{
        {{IcmpAnswer{0, "10.0.0.9"}}, 0, {"1\t10.0.0.9" + done}},
        {{IcmpAnswer{11, "192.168.1.1"}, IcmpAnswer{0, "10.0.0.8"}, IcmpAnswer{3, "10.0.0.7"}, IcmpAnswer{0, "10.0.0.9"}},
         0,
         {"1\t192.168.1.1\t\t\r\n", "2\t10.0.0.8\t\t\r\n", "3\t10.0.0.7\t\t : Destination unreachable\r\n",
          "4\t10.0.0.9" + done}},
        {{ENETUNREACH, IcmpAnswer{0, "10.0.0.9"}},
         0,
         {"1 - The network cannot be reached from this host at this time.\r\n", "1\t10.0.0.9" + done}},
        {{}, 3, {"1\t" + kTimeout, "2\t" + kTimeout, "The socket is not already bound to an address.\r\n"}},
    };
    for (const auto& [steps, ttl_error_at, expected] : cases) {
      Lines lines;
      TraceRequest request = Scripted(steps, ttl_error_at);
      request.append = [&lines](std::string line) { lines.push_back(std::move(line)); };
      std::atomic<bool> stop{false};
      TraceRoute(request, stop);
      QCOMPARE(lines, expected);
    }
    Lines lines;  // a channel that cannot be opened gives one line
    TraceRequest request = Scripted({});
    request.destination = "not an address";
    request.open = OpenIcmpChannel;
    request.append = [&lines](std::string line) { lines.push_back(std::move(line)); };
    std::atomic<bool> stop{false};
    TraceRoute(request, stop);
    QCOMPARE(lines, Lines{"No IPv4 address to trace.\r\n"});
  }

  void runnerStopsARunningTraceAndGoesQuiet() {
    auto calls = std::make_shared<std::atomic<int>>(0);
    TraceRunner runner;
    QVERIFY(runner.start(Scripted({}, 0, true), [calls](std::string) { ++*calls; }, [calls] { ++*calls; }));
    QVERIFY(!runner.start(Scripted({}), {}, {}));  // one trace at a time
    runner.stop();
    QVERIFY(!runner.running());
    QCOMPARE(calls->load(), 0);  // neither a line nor the end after stopping
  }
};

QTEST_MAIN(TraceRouteTest)
#include "trace_route_test.moc"
