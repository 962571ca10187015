// Trace route: the probe bytes, which received datagrams count as answers,
// the hop rules over a scripted channel, and one real trace to 127.0.0.1.
#include <QtTest>

#include <deque>

#include "console/trace_route.h"
#include "console/trace_runner.h"

using namespace talvek::console;

namespace {

const std::string kTimeoutText = "Attempt to connect timed out without establishing a connection.\r\n";

// Plays back one scripted answer (or errno) per hop and records the calls.
class ScriptedChannel : public IcmpChannel {
 public:
  std::deque<std::variant<IcmpAnswer, int>> answers;
  std::deque<int> send_errors;
  int ttl_error_at = 0;  // hop whose time-to-live setting fails
  std::vector<int> ttls;
  std::vector<uint16_t> sent, awaited;

  int setTimeToLive(int ttl) override {
    ttls.push_back(ttl);
    return ttl == ttl_error_at ? EINVAL : 0;
  }
  int sendEcho(uint16_t sequence) override {
    sent.push_back(sequence);
    if (send_errors.empty()) return 0;
    int error = send_errors.front();
    send_errors.pop_front();
    return error;
  }
  std::variant<IcmpAnswer, int> receiveAnswer(uint16_t sequence, std::chrono::milliseconds,
                                              const std::atomic<bool>&) override {
    awaited.push_back(sequence);
    if (answers.empty()) return ETIMEDOUT;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Hands the trace a channel that forwards to a script the test keeps.
class ForwardingChannel : public IcmpChannel {
 public:
  explicit ForwardingChannel(std::shared_ptr<ScriptedChannel> script) : script_(std::move(script)) {}
  int setTimeToLive(int ttl) override { return script_->setTimeToLive(ttl); }
  int sendEcho(uint16_t sequence) override { return script_->sendEcho(sequence); }
  std::variant<IcmpAnswer, int> receiveAnswer(uint16_t sequence, std::chrono::milliseconds limit,
                                              const std::atomic<bool>& stop) override {
    return script_->receiveAnswer(sequence, limit, stop);
  }

 private:
  std::shared_ptr<ScriptedChannel> script_;
};

std::vector<std::string> RunScripted(const std::shared_ptr<ScriptedChannel>& script) {
  std::vector<std::string> lines;
  TraceRequest request;
  request.destination = "10.0.0.9";
  request.append = [&lines](std::string line) { lines.push_back(std::move(line)); };
  request.host_name = [](const std::string& address) { return address == "10.0.0.9" ? "far.test" : ""; };
  request.open = [script](const std::string&, std::string&) -> std::unique_ptr<IcmpChannel> {
    return std::make_unique<ForwardingChannel>(script);
  };
  std::atomic<bool> stop{false};
  TraceRoute(request, stop);
  return lines;
}

// An IPv4 header of 20 bytes from `source`, then `icmp`.
std::vector<uint8_t> WithIpHeader(std::vector<uint8_t> icmp) {
  std::vector<uint8_t> datagram(20, 0);
  datagram[0] = 0x45;
  datagram.insert(datagram.end(), icmp.begin(), icmp.end());
  return datagram;
}

std::vector<uint8_t> Echo(uint8_t type, uint16_t identifier, uint16_t sequence) {
  auto request = BuildEchoRequest(identifier, sequence, 0);
  std::vector<uint8_t> message(request.begin(), request.begin() + 64);
  message[0] = type;
  return message;
}

// An error report of `type` quoting an IP header and our request's first 8 bytes.
std::vector<uint8_t> ErrorReport(uint8_t type, uint16_t identifier, uint16_t sequence) {
  std::vector<uint8_t> report{type, 0, 0, 0, 0, 0, 0, 0};
  auto quoted = WithIpHeader(Echo(8, identifier, sequence));
  report.insert(report.end(), quoted.begin(), quoted.begin() + 28);
  return report;
}

// Answers nothing until the trace is stopped (bounded), counting its waits.
class StallingChannel : public IcmpChannel {
 public:
  explicit StallingChannel(std::shared_ptr<std::atomic<int>> waits) : waits_(std::move(waits)) {}
  int setTimeToLive(int) override { return 0; }
  int sendEcho(uint16_t) override { return 0; }
  std::variant<IcmpAnswer, int> receiveAnswer(uint16_t, std::chrono::milliseconds,
                                              const std::atomic<bool>& stop) override {
    ++*waits_;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    return stop.load() ? EINTR : ETIMEDOUT;
  }

 private:
  std::shared_ptr<std::atomic<int>> waits_;
};

}  // namespace

class TraceRouteTest : public QObject {
  Q_OBJECT

 private slots:
  void checksumFollowsRfc1071() {
    const uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    QCOMPARE(InternetChecksum(sample), uint16_t{0x220d});
    const uint8_t odd[] = {0x01};
    QCOMPARE(InternetChecksum(odd), uint16_t{0xfeff});
  }

  void echoRequestLayout() {
    auto request = BuildEchoRequest(0x1234, 0x0102, 0xA1B2C3D4);
    QCOMPARE(request.size(), size_t{1024});
    QCOMPARE(request[0], uint8_t{8});
    QCOMPARE(request[1], uint8_t{0});
    QCOMPARE(request[4], uint8_t{0x34});  // little-endian identifier
    QCOMPARE(request[5], uint8_t{0x12});
    QCOMPARE(request[6], uint8_t{0x02});  // little-endian sequence
    QCOMPARE(request[7], uint8_t{0x01});
    QCOMPARE(request[8], uint8_t{0xD4});
    QCOMPARE(request[11], uint8_t{0xA1});
    QVERIFY(std::all_of(request.begin() + 12, request.end(), [](uint8_t b) { return b == 0; }));
    QCOMPARE(InternetChecksum(request), uint16_t{0});  // a correct checksum sums to zero
  }

  void datagramsThatCountAsAnswers() {
    auto reply = WithIpHeader(Echo(0, 77, 5));
    auto answer = ParseIcmpDatagram(reply, true, "10.0.0.9", 77, 5, true);
    QVERIFY(answer);
    QCOMPARE(answer->type, uint8_t{0});
    QCOMPARE(answer->from, std::string("10.0.0.9"));

    auto exceeded = ParseIcmpDatagram(WithIpHeader(ErrorReport(11, 77, 5)), true, "192.168.1.1", 77, 5, true);
    QVERIFY(exceeded);
    QCOMPARE(exceeded->type, uint8_t{11});
    QCOMPARE(exceeded->from, std::string("192.168.1.1"));
    QVERIFY(ParseIcmpDatagram(WithIpHeader(ErrorReport(3, 77, 5)), true, "h", 77, 5, true));

    // A datagram socket's reply has no IP header and a kernel-chosen identifier.
    QVERIFY(ParseIcmpDatagram(Echo(0, 999, 5), false, "h", 77, 5, false));
  }

  void datagramsThatDoNot() {
    // Our own request looping back on 127.0.0.1.
    QVERIFY(!ParseIcmpDatagram(WithIpHeader(Echo(8, 77, 5)), true, "127.0.0.1", 77, 5, true));
    // A late reply to an earlier hop, or another program's echo.
    QVERIFY(!ParseIcmpDatagram(WithIpHeader(Echo(0, 77, 4)), true, "h", 77, 5, true));
    QVERIFY(!ParseIcmpDatagram(WithIpHeader(Echo(0, 78, 5)), true, "h", 77, 5, true));
    QVERIFY(!ParseIcmpDatagram(WithIpHeader(ErrorReport(11, 77, 4)), true, "h", 77, 5, true));
    // Truncated datagrams.
    auto short_reply = WithIpHeader(Echo(0, 77, 5));
    short_reply.resize(27);
    QVERIFY(!ParseIcmpDatagram(short_reply, true, "h", 77, 5, true));
    auto short_report = WithIpHeader(ErrorReport(11, 77, 5));
    short_report.resize(20 + 8 + 20 + 7);
    QVERIFY(!ParseIcmpDatagram(short_report, true, "h", 77, 5, true));
    QVERIFY(!ParseIcmpDatagram({}, true, "h", 77, 5, true));
  }

  void firstHopAnswerCompletesTheTrace() {
    auto channel = std::make_shared<ScriptedChannel>();
    channel->answers.push_back(IcmpAnswer{0, "10.0.0.9"});
    auto lines = RunScripted(channel);
    QCOMPARE(lines.size(), size_t{1});
    QCOMPARE(lines[0], std::string("1\t10.0.0.9\tfar.test\t\r\nRoute trace complete\r\n"));
  }

  void silentDestinationGivesEveryHopAndNoClosing() {
    auto channel = std::make_shared<ScriptedChannel>();
    auto* script = channel.get();
    auto lines = RunScripted(channel);
    QCOMPARE(lines.size(), size_t{39});
    QCOMPARE(lines.front(), "1\t" + kTimeoutText);
    QCOMPARE(lines.back(), "39\t" + kTimeoutText);
    QCOMPARE(script->ttls.back(), 39);
    QCOMPARE(script->sent.front(), uint16_t{1});
    QCOMPARE(script->sent.back(), uint16_t{39});
  }

  void otherAnswersDoNotEndTheTrace() {
    auto channel = std::make_shared<ScriptedChannel>();
    channel->answers.push_back(IcmpAnswer{11, "192.168.1.1"});
    channel->answers.push_back(IcmpAnswer{0, "10.0.0.8"});  // echo reply, but not from the destination
    channel->answers.push_back(IcmpAnswer{3, "10.0.0.7"});
    channel->answers.push_back(IcmpAnswer{0, "10.0.0.9"});
    auto lines = RunScripted(channel);
    QCOMPARE(lines.size(), size_t{4});
    QCOMPARE(lines[0], std::string("1\t192.168.1.1\t\t\r\n"));
    QCOMPARE(lines[1], std::string("2\t10.0.0.8\t\t\r\n"));
    QCOMPARE(lines[2], std::string("3\t10.0.0.7\t\t : Destination unreachable\r\n"));
    QCOMPARE(lines[3], std::string("4\t10.0.0.9\tfar.test\t\r\nRoute trace complete\r\n"));
  }

  void failedSendStillWaitsForTheHop() {
    auto channel = std::make_shared<ScriptedChannel>();
    auto* script = channel.get();
    channel->send_errors.push_back(ENETUNREACH);
    channel->answers.push_back(IcmpAnswer{0, "10.0.0.9"});
    auto lines = RunScripted(channel);
    QCOMPARE(lines.size(), size_t{2});
    QCOMPARE(lines[0], std::string("1 - The network cannot be reached from this host at this time.\r\n"));
    QCOMPARE(lines[1], std::string("1\t10.0.0.9\tfar.test\t\r\nRoute trace complete\r\n"));
    QCOMPARE(script->awaited, std::vector<uint16_t>{1});
  }

  void timeToLiveFailureStops() {
    auto channel = std::make_shared<ScriptedChannel>();
    channel->ttl_error_at = 3;
    auto lines = RunScripted(channel);
    QCOMPARE(lines.size(), size_t{3});
    QCOMPARE(lines[2], std::string("The socket is not already bound to an address.\r\n"));
  }

  void unopenableChannelGivesOneLine() {
    std::vector<std::string> lines;
    TraceRequest request;
    request.destination = "not an address";
    request.append = [&](std::string line) { lines.push_back(std::move(line)); };
    std::atomic<bool> stop{false};
    TraceRoute(request, stop);
    QCOMPARE(lines, std::vector<std::string>{"No IPv4 address to trace.\r\n"});
  }

  void stopEndsTheTraceAtOnce() {
    std::vector<std::string> lines;
    TraceRequest request;
    request.destination = "10.0.0.9";
    request.append = [&](std::string line) { lines.push_back(std::move(line)); };
    request.open = [](const std::string&, std::string&) -> std::unique_ptr<IcmpChannel> {
      return std::make_unique<ScriptedChannel>();
    };
    std::atomic<bool> stop{true};
    TraceRoute(request, stop);
    QVERIFY(lines.empty());
  }

  void runnerStopsARunningTraceAndGoesQuiet() {
    auto waits = std::make_shared<std::atomic<int>>(0);
    auto calls = std::make_shared<std::atomic<int>>(0);
    TraceRequest request;
    request.destination = "10.0.0.9";
    request.open = [waits](const std::string&, std::string&) -> std::unique_ptr<IcmpChannel> {
      return std::make_unique<StallingChannel>(waits);
    };
    TraceRunner runner;
    QVERIFY(runner.start(request, [calls](std::string) { ++*calls; }, [calls] { ++*calls; }));
    QVERIFY(runner.running());
    QVERIFY(!runner.start(request, {}, {}));  // one trace at a time
    QTRY_VERIFY_WITH_TIMEOUT(waits->load() == 1, 5000);
    QElapsedTimer timer;
    timer.start();
    runner.stop();
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(!runner.running());
    QCOMPARE(calls->load(), 0);  // neither a line nor the end after stopping
  }

  void runnerReportsLinesThenTheEnd() {
    std::mutex mutex;
    std::vector<std::string> seen;
    std::atomic<bool> ended{false};
    TraceRequest request;
    request.destination = "10.0.0.9";
    request.host_name = [](const std::string&) { return std::string(); };
    request.open = [](const std::string&, std::string&) -> std::unique_ptr<IcmpChannel> {
      auto channel = std::make_unique<ScriptedChannel>();
      channel->answers.push_back(IcmpAnswer{0, "10.0.0.9"});
      return channel;
    };
    TraceRunner runner;
    QVERIFY(runner.start(
        request,
        [&](std::string line) {
          std::lock_guard lock(mutex);
          seen.push_back(std::move(line));
        },
        [&] { ended = true; }));
    QTRY_VERIFY_WITH_TIMEOUT(ended.load(), 5000);
    std::lock_guard lock(mutex);
    QCOMPARE(seen, std::vector<std::string>{"1\t10.0.0.9\t\t\r\nRoute trace complete\r\n"});
  }

  // Passes with or without the right to open ICMP sockets on this machine.
  void loopbackAnswersAtTheFirstHop() {
    std::vector<std::string> lines;
    TraceRequest request;
    request.destination = "127.0.0.1";
    request.append = [&](std::string line) { lines.push_back(std::move(line)); };
    request.host_name = [](const std::string&) { return std::string("loopback.test"); };
    std::atomic<bool> stop{false};
    TraceRoute(request, stop);
    QCOMPARE(lines.size(), size_t{1});
    if (lines[0] == kIcmpNotPermittedLine) return;
    QCOMPARE(lines[0], std::string("1\t127.0.0.1\tloopback.test\t\r\nRoute trace complete\r\n"));
  }
};

QTEST_MAIN(TraceRouteTest)
#include "trace_route_test.moc"
