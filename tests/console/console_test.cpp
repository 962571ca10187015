// The console against a real server on loopback. The main window: the
// toggle, a failed start, closing, no second dialog, the first-start import,
// the monitor pane, the statistics, damaged stored looks, timer periods, the
// address choice, the process guards (also SIGTERM in the real program's
// start-up) and the docs' screenshots. The user list, user information and
// trace route; the cache contents and their commands. The accounts, filter
// and configuration dialogs: their rules, the running server following at
// once, and the editors merging their edits into the file as it is on disk.
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <signal.h>

#include <deque>
#include <future>
#include <thread>

#include <QCheckBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include "accounts/account_editing.h"
#include "console/account_dialog.h"
#include "console/accounts_dialog.h"
#include "console/address_choice_dialog.h"
#include "console/cache_contents_view.h"
#include "console/configure_dialog.h"
#include "console/console_settings.h"
#include "console/filter_editor.h"
#include "console/main_window.h"
#include "console/monitor_pane.h"
#include "console/process_guards.h"
#include "console/statistics_bar.h"
#include "console/statistics_graph.h"
#include "console/support/dialog_fixture.h"
#include "console/trace_route.h"
#include "console/trace_runner.h"
#include "console/user_info_window.h"
#include "console/user_list_widget.h"
#include "console/window_placement.h"
#include "filter/filter_file.h"
#include "settings/settings.h"

using namespace talvek;
using namespace talvek::console;
using namespace talvek::test;

namespace {

constexpr int kWait = 5000;

QString Plain(QString text) { return text.remove(QLatin1Char('&')); }

std::unique_ptr<MainWindow> MakeWindow(DialogServer& fixture) {
  auto window = std::make_unique<MainWindow>(fixture.server(), fixture.view(), fixture.store(),
                                             fixture.programDirectory().path());
  window->serverInitialised(false);
  return window;
}

QString Numbered(int length) {
  QString text;
  for (int i = 0; i < length; ++i) text.append(QChar('a' + (i / 7) % 26));
  return text;
}

// A loopback port nothing listens on at the moment of the call.
uint16_t FreeLoopbackPort() {
  asio::io_context context;
  asio::error_code error;
  asio::ip::tcp::acceptor acceptor(context);
  acceptor.open(asio::ip::tcp::v4(), error);
  if (!error) acceptor.bind({asio::ip::address_v4::loopback(), 0}, error);
  return error ? 0 : acceptor.local_endpoint(error).port();
}

// Throws from its event handler, as a slot reaching a damaged file could.
class Throwing : public QObject {
 protected:
  bool event(QEvent*) override { throw std::runtime_error("Too many levels of symbolic links"); }
};

const std::string kClientName = "client.example.test";

QAction* Item(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions())
    if (action->text() == text) return action;
  return nullptr;
}

// Both switches as the control thread sees them.
std::pair<bool, bool> Switches(server::Server& server, const std::shared_ptr<server::ConnectionRecord>& record) {
  auto seen = server.callOnControlThread<std::pair<bool, bool>>(
      [record] { return std::make_pair(record->shared.monitor.load(), record->shared.record_file_lists.load()); });
  return seen.value_or(std::make_pair(false, false));
}

QString Shown(std::string text) { return QString::fromStdString(text).remove(QLatin1Char('\r')); }

struct Options {
  bool file_lists = false, monitor = false, filter_enabled = false, block_listed = false;
};

// A list over one anonymous client, selected; the confirmation records its
// questions and answers with `answer`.
struct OneClient {
  explicit OneClient(Options options = {})
      : fixture([options](settings::Settings& s, const DialogServer& self) {
          s.general.recordFileLists = options.file_lists;
          s.general.monitorNew = options.monitor;
          s.general.filterEnabled = options.filter_enabled;
          s.general.blockListed = options.block_listed;
          s.anonymous.allow = s.anonymous.rights = 1;
          // Allow-only mode admits the listed client; block mode starts empty.
          if (options.filter_enabled && !options.block_listed) self.programDirectory().write("Filters.txt", "127.0.0.1\r\n");
        }, kClientName),
        list(fixture.server(), nullptr) {
    client = fixture.login("anonymous", "guest@example.test");
    if (!client || !fixture.waitForRegistered(1)) return;
    record = fixture.server().registrySnapshot().front();
    list.setConfirm([this](QWidget*, const QString& question) {
      questions << question;
      return answer;
    });
    list.refresh();
    list.setCurrentRow(0);
  }
  bool ready() const { return client && record && list.count() == 1; }
  UserInfoWindow* open(const char* item) {
    Item(*list.buildMenu(), item)->trigger();
    return list.findChildren<UserInfoWindow*>().back();
  }

  DialogServer fixture;
  UserListWidget list;
  std::unique_ptr<LineClient> client;
  std::shared_ptr<server::ConnectionRecord> record;
  QStringList questions;
  bool answer = true;
};

cache::CachedBytes Bytes(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

struct OpenView {
  explicit OpenView(server::Server& server) {
    ShowCacheContents(server, &parent);
    view = parent.findChild<CacheContentsView*>();
  }
  void click(const QString& text) const {
    for (auto* button : view->findChildren<QPushButton*>())
      if (button->text() == text) QTest::mouseClick(button, Qt::LeftButton);
  }
  QTreeWidget* tree() const { return view->findChild<QTreeWidget*>("cacheTree"); }
  QString selectionText() const { return view->findChild<QLabel*>("selectionText")->text(); }
  QTreeWidgetItem* find(const std::string& label) const {
    auto found = tree()->findItems(QString::fromStdString(label), Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.front() : nullptr;
  }
  void select(const std::string& label) const {
    tree()->clearSelection();
    find(label)->setSelected(true);
  }

  QWidget parent;
  CacheContentsView* view = nullptr;
};

const std::string kTimeout = "Attempt to connect timed out without establishing a connection.\r\n";
using Step = std::variant<IcmpAnswer, int>;  // per hop: the answer, or an errno of the send

// Plays back one step per hop; hop `ttl_error_at` cannot set its
// time-to-live; with `stall`, the end of the script is silence until stopped.
class ScriptedChannel : public IcmpChannel {
 public:
  ScriptedChannel(std::deque<Step> steps, int ttl_error_at, bool stall)
      : steps_(std::move(steps)), ttl_error_at_(ttl_error_at), stall_(stall) {}
  int setTimeToLive(int ttl) override { return ttl == ttl_error_at_ ? EINVAL : 0; }
  int sendEcho(uint16_t) override {
    if (steps_.empty() || std::holds_alternative<IcmpAnswer>(steps_.front())) return 0;
    int error = std::get<int>(steps_.front());
    steps_.pop_front();
    return error;
  }
  Step receiveAnswer(uint16_t, std::chrono::milliseconds, const std::atomic<bool>& stop) override {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (steps_.empty() && stall_ && !stop.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    if (steps_.empty()) return stop.load() ? EINTR : ETIMEDOUT;
    Step step = steps_.front();
    steps_.pop_front();
    return step;
  }

 private:
  std::deque<Step> steps_;
  int ttl_error_at_;
  bool stall_;
};

TraceRequest Scripted(std::deque<Step> steps, int ttl_error_at = 0, bool stall = false) {
  TraceRequest request;
  request.destination = "10.0.0.9";
  request.host_name = [](const std::string& address) { return address == "10.0.0.9" ? "far.test" : ""; };
  request.open = [=](const std::string&, std::string&) {
    return std::make_unique<ScriptedChannel>(steps, ttl_error_at, stall);
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

void Remove(QWidget* dialog, int row) {
  Find<QListWidget>(dialog, "userList")->setCurrentRow(row);
  Click(dialog, "removeUserButton");
}

accounts::AccountRecord Account(const std::string& name, const std::string& home, const std::string& password = "") {
  accounts::AccountRecord record;
  record.name = name;
  record.password = password.empty() ? name + "-secret" : password;
  record.homeDir = record.uploadsDir = home;
  record.permissions = accounts::kRead;
  record.redirectUploads = true;
  return record;
}

// A server whose accounts file holds alice and bob.
struct AccountsFixture {
  DialogServer server{[](settings::Settings& s, const DialogServer& self) {
    s.logonFile = (self.programDirectory().path() / "accounts.lgn").string();
    s.uploadsDir = self.root().dir() + "incoming/";
  }};
  std::string root = server.root().dir();
  std::filesystem::path file = server.programDirectory().path() / "accounts.lgn";

  AccountsFixture() {
    write({Account("alice", root + "alice/"), Account("bob", root + "bob/")});
    server.server().accounts().load(file, server.server().keyText());
  }
  // What the command line does meanwhile: its own edit of the file.
  void write(const std::vector<accounts::AccountRecord>& records) {
    accounts::WriteAccountsFile(file, records, server.server().keyText());
  }
  std::vector<std::string> onDisk() {
    std::vector<std::string> names;
    for (const auto& record : accounts::ReadAccountsFile(file, server.server().keyText()).records)
      names.push_back(record.name + ":" + record.password);
    return names;
  }
};

void Add(QWidget* editor, const QString& text) {
  Find<QLineEdit>(editor, "entryEdit")->setText(text);
  Click(editor, "addButton");
}

using Values = std::vector<std::pair<const char*, QVariant>>;

// Opens the sheet, lets `edit` change it (or sets `values`), presses OK and,
// when the sheet accepted, runs the rest of the flow. Returns whether it was
// accepted.
bool ConfigureWith(DialogServer& fixture, const Values& values, std::function<void(ConfigureDialog&)> edit = {}) {
  ConfigureFlow flow(fixture.server(), fixture.store(), fixture.prompts);
  std::unique_ptr<ConfigureDialog> dialog = flow.makeDialog(nullptr);
  Set(dialog.get(), values);
  if (edit) edit(*dialog);
  Press(dialog.get());
  if (dialog->result() != QDialog::Accepted) return false;
  flow.applyAccepted(*dialog);
  return true;
}

}  // namespace

class ConsoleTest : public QObject {
  Q_OBJECT

 private slots:
  void toggleFollowsTheServerAndCountsConnections() {
    DialogServer fixture;
    auto window = MakeWindow(fixture);
    const ConsoleActions& a = window->actions();
    QCOMPARE(Plain(a.start_stop->text()), QString("Stop FTP Server"));
    auto first = fixture.connect();
    QVERIFY(first && fixture.waitForRegistered(1));
    QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 1  connection"));
    QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 1, kWait);
    auto second = fixture.connect();
    QVERIFY(second && fixture.waitForRegistered(2));
    QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nActive - 2  connections"));

    a.toolbar_toggle->trigger();  // stopping closes both connections
    QCOMPARE(Plain(a.start_stop->text()), QString("Start FTP Server"));
    QVERIFY(first->waitClosed() && second->waitClosed());
    QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), QString("Server inactive"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 0, kWait);
    QCOMPARE(window->trayTip(), QString("Talvek FTP\r\nNot Active"));
    QTRY_VERIFY_WITH_TIMEOUT(window->monitorPane().toPlainText().contains("Connection to 127.0.0.1 closed.\n\n"), kWait);

    a.start_stop->trigger();
    QVERIFY(fixture.server().waitForStart());
    QString ready = QString("FTP Server ready, listening on port %1").arg(fixture.server().listeningPort());
    QTRY_COMPARE_WITH_TIMEOUT(window->statusText(), ready, kWait);
  }

  void failedStartReleasesTheButton() {
    DialogServer holder;
    DialogServer fixture;
    auto window = MakeWindow(fixture);
    window->toggleServer();  // stop, then start again on a port in use
    fixture.server().updateSettings([&](settings::Settings& s) { s.net.port = holder.port(); });
    window->actions().toolbar_toggle->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("Failed to create passive socket"), kWait);
    QVERIFY(!fixture.server().active());
    QVERIFY(!window->actions().toolbar_toggle->isChecked());
    QCOMPARE(Plain(window->actions().start_stop->text()), QString("Start FTP Server"));
    // The server's warning does not block the window that mirrors it.
    QTRY_COMPARE_WITH_TIMEOUT(window->findChildren<QMessageBox*>().size(), qsizetype{1}, kWait);
    QMessageBox* box = window->findChildren<QMessageBox*>().front();
    QCOMPARE(box->windowTitle(), QString("Server start failure"));
    QVERIFY(box->windowModality() != Qt::ApplicationModal);
  }

  void closingHidesOnlyWithTheBackgroundFlag() {
    for (uint32_t background : {1u, 0u}) {
      DialogServer fixture([=](settings::Settings& s, const DialogServer&) {
        s.general.runInBackground = background;
      });
      auto window = MakeWindow(fixture);
      QSignalSpy closed(window.get(), &MainWindow::closed);
      window->show();
      QVERIFY(QTest::qWaitForWindowExposed(window.get()));
      QCOMPARE(window->close(), background == 0);
      QCOMPARE(closed.count(), background == 0 ? 1 : 0);
      if (background) {
        // Without a tray the window could not come back from hiding.
        if (!window->hasTray()) QTRY_VERIFY_WITH_TIMEOUT(window->isMinimized(), kWait);
        window->exitProgram();
        QCOMPARE(closed.count(), 1);
      }
      QVERIFY(!window->statisticsBar().sampling());
      QCOMPARE(MakeWindow(fixture)->geometry(), window->geometry());  // stored as it closed
    }
  }

  void dialogsDoNotOpenTwiceNorExitUnderThem() {
    DialogServer fixture;
    auto window = MakeWindow(fixture);
    QSignalSpy closed(window.get(), &MainWindow::closed);
    QList<QDialog*> open_dialogs;
    auto ran = WhenModal<ConfigureDialog>([&](ConfigureDialog* sheet) {
      // What the tray could ask for while the sheet runs.
      window->configure();
      window->actions().accounts->trigger();
      window->actions().filter->trigger();
      window->actions().exit->trigger();
      for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) open_dialogs << dialog;
      sheet->reject();
    });
    window->configure();
    QVERIFY(*ran);
    QCOMPARE(open_dialogs.size(), qsizetype{1});
    QCOMPARE(closed.count(), 0);
    window->actions().exit->trigger();
    QCOMPARE(closed.count(), 1);
  }

  void firstStartImportsDefaultsOnce() {
    DialogServer fixture;
    settings::WriteNewInstall(fixture.store(), 1);
    fixture.programDirectory().write("defaults.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Talvek\\Talvek FTP\\"
                                                     "Settings]\r\n\"EnableLog\"=dword:0000001e\r\n\r\n");
    for (uint32_t expected : {30u, 0u}) {  // the operator's later change stays
      MakeWindow(fixture);
      QCOMPARE(fixture.store().getDword(settings::kSettingsKey, "EnableLog").value_or(99), expected);
      fixture.store().setDword(settings::kSettingsKey, "EnableLog", 0);
    }
  }

  void monitorTrimsAtTheThresholdAndTakesWholeLinesFromManyThreads() {
    for (int start : {65535, 65536}) {
      MonitorPane pane;
      for (const QString& text : {Numbered(start), QString(), QString("Y")}) pane.appendMonitorText(text);
      QCOMPARE(pane.toPlainText(), Numbered(start).mid(start < 65536 ? 0 : 16384) + "Y");
    }
    // Producers on other threads: every append arrives whole, on the UI thread.
    QtOperatorView view;
    MonitorPane pane;
    connect(&view, &QtOperatorView::monitorTextAppended, &pane, &MonitorPane::appendMonitorText);
    auto produce = [&view](char tag) {
      for (int i = 0; i < 200; ++i) view.operatorView().appendMonitorText(std::string(40, tag) + "\r\n");
    };
    std::thread left(produce, 'L'), right(produce, 'R');
    left.join();
    right.join();
    QTRY_COMPARE_WITH_TIMEOUT(pane.characterCount(), 2 * 200 * 41, kWait);
    for (const QString& line : pane.toPlainText().split('\n', Qt::SkipEmptyParts))
      QVERIFY2(line == QString(40, 'L') || line == QString(40, 'R'), qPrintable(line));
  }

  void statisticsBarSamplesTheServerWhileShown() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) { s.graphBkColor = 0x00332211; });
    StatisticsBar bar(fixture.server());
    QCOMPARE(bar.graph().background(), QColor(0x11, 0x22, 0x33));
    bar.resize(500, 120);
    bar.show();
    fixture.server().bytes_sent += 1048576;
    fixture.server().bytes_received += 2 * 1048576;
    bar.sampleNow();
    bar.sampleNow();
    QString text = bar.textPane().toPlainText();
    QVERIFY2(text.startsWith("MB transmitted:\t1.00\nMB received:\t2.00\n"), qPrintable(text));
    QVERIFY2(text.contains("Max Bytes\\sec:\t1048576\n"), qPrintable(text));
    QCOMPARE(bar.graph().verticalMax(), 1048576u);
    for (int second = 0; second < 180; ++second) bar.sampleNow();
    QCOMPARE(bar.graph().verticalMax(), 1048576u);  // the range sticks while the peak scrolls out

    bar.hide();
    fixture.server().bytes_sent += 777;  // sent while hidden: not a sample
    bar.show();
    bar.sampleNow();
    QCOMPARE(bar.graph().verticalMax(), 1u);  // showing starts over
    bar.applyColors(QColor(1, 2, 3), QColor(250, 251, 252));
    QCOMPARE(fixture.server().settings().graphForeColor, 0x00fcfbfau);
  }

  void storedLooksRefuseDamage() {
    std::vector<uint8_t> inverted = PackRect(QRect(10, 10, 300, 300));
    std::swap_ranges(inverted.begin(), inverted.begin() + 8, inverted.begin() + 8);
    for (const auto& damaged : {std::vector<uint8_t>(15, 1), std::vector<uint8_t>(16, 0), inverted})
      QVERIFY(!UnpackRect(damaged));
    QVERIFY(!ReachableOnScreens(QRect(100000, 100000, 500, 400), {QRect(0, 0, 800, 600)}));
    std::vector<uint8_t> unterminated(60, 'A');  // a face name without its NUL stops at the end
    std::fill(unterminated.begin(), unterminated.begin() + 28, 0);
    QCOMPARE(UnpackFont(unterminated).value_or(QFont()).family(), QString(32, 'A'));
  }

  void addressChoiceIsRememberedOnlyWhenAsked() {
    const std::vector<std::string> addresses = {"", "127.0.0.5", "", "127.0.0.6"};
    TempDir directory;
    settings::RegistryStore store(directory.path() / "settings.reg");
    server::AddressChooser choose = MakeAddressChooser(store, nullptr);
    for (int row : {-1, 1, 0}) {  // closed, chosen, chosen for always
      WhenModal<AddressChoiceDialog>([row](AddressChoiceDialog* dialog) {
        auto* list = dialog->findChild<QListWidget*>("addressList");
        QCOMPARE(list->count(), 2);
        if (row < 0) return dialog->reject();
        list->setCurrentRow(row);
        Set(dialog, {{"alwaysCheck", row == 0}});
        Press(dialog);
      });
      QCOMPARE(choose(addresses), row < 0 ? std::string() : addresses[1 + 2 * row]);
      settings::RegistryStore reread(store.file());
      reread.load();
      QCOMPARE(settings::ReadDefaultIp(reread), std::string(row == 0 ? "127.0.0.5" : ""));
    }
  }

  // A stop signal rejects every open dialog; an exception reaching the
  // event loop becomes a message.
  void processGuards() {
    StopSignals stop;
    QSignalSpy requested(&stop, &StopSignals::stopRequested);
    QDialog outer, inner;
    QTimer::singleShot(0, &outer, [&] {
      QTimer::singleShot(0, &inner, [] { ::raise(SIGTERM); });
      inner.exec();
    });
    bool gave_up = false;  // a signal that never came must fail the test, not hang it
    QTimer::singleShot(10000, &outer, [&] {
      gave_up = true;
      RejectModalDialogs();
    });
    QCOMPARE(outer.exec(), int(QDialog::Rejected));
    QVERIFY(stop.requested() && !gave_up);
    QCOMPARE(requested.count(), 1);

    QString shown;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      shown = box->text();
      box->accept();
    });
    Throwing target;
    QEvent event(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&target, &event));
    QCOMPARE(shown, QString("The command failed: Too many levels of symbolic links"));
  }

  // SIGTERM while start-up waits on the operator (here the notice that no
  // FTP root is set) saves the settings and ends the program normally.
  void sigtermDuringStartUpSavesAndShutsDown() {
    TempDir dir;
    settings::RegistryStore store(dir.path() / "settings.reg");
    settings::WriteNewInstall(store, 0);
    settings::WriteDefaultIp(store, "127.0.0.1");
    QCOMPARE(store.save(), 0);
    uint16_t port = FreeLoopbackPort();
    QProcess console;
    console.start(TALVEK_FTP_PATH, {"--settings", QString::fromStdString(store.file().string()), "--program-dir",
                                    QString::fromStdString(dir.path().string()), "--port", QString::number(port), "/s"});
    QVERIFY(WaitUntil([&] { return LineClient().connect(port); }, std::chrono::seconds(30)));
    console.terminate();  // SIGTERM
    QVERIFY(console.waitForFinished(30000));
    QCOMPARE(console.exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.exitCode(), 0);
    settings::RegistryStore saved(store.file());
    QVERIFY(saved.load());
    settings::Settings after;
    settings::LoadSettings(saved, after);
    QVERIFY(!after.logonFile.empty());  // written by start-up, saved only at shut-down
    QCOMPARE(after.general.autoStart, 1u);
  }

  void screenshots() {
    QByteArray docs = qgetenv("TALVEK_DOCS_DIR");
    if (docs.isEmpty()) QSKIP("TALVEK_DOCS_DIR is not set");
    DialogServer fixture;
    auto window = MakeWindow(fixture);
    window->resize(900, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->toggleServer();
    window->toggleServer();
    QVERIFY(fixture.server().waitForStart());
    auto client = fixture.connect();
    QVERIFY(client && fixture.waitForRegistered(1));
    QTRY_COMPARE_WITH_TIMEOUT(window->userList().count(), 1, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(window->statusText().startsWith("FTP Server ready"), kWait);
    fixture.server().logEvent("2026-12-06 23:00:00 : Connection from 127.0.0.1");
    QTRY_VERIFY_WITH_TIMEOUT(!window->monitorPane().toPlainText().isEmpty(), kWait);
    const std::array<uint64_t, 8> rates{200000, 650000, 420000, 900000, 300000, 780000, 560000, 120000};
    for (size_t second = 0; second < 90; ++second) {
      fixture.server().bytes_sent += rates[second % rates.size()] + second * 4000;
      window->statisticsBar().sampleNow();
    }
    QDir dir(QString::fromLocal8Bit(docs));
    QVERIFY(window->grab().save(dir.filePath("console-main-window.png")));
    QVERIFY(window->statisticsDock().grab().save(dir.filePath("console-statistics.png")));
  }

  void menuItemsFollowSwitchesAndFilterMode() {
    const QStringList plain{"Monitor*", "Keep file list", "Show user info", "", "Disconnect"};
    // file lists (else monitor), filter enabled, block mode: the items, "*" when checked
    for (const auto& [file_lists, filter_enabled, block_listed, items] :
         std::vector<std::tuple<bool, bool, bool, QStringList>>{
             {false, false, true, plain},  // no filter
             {false, true, false, plain},  // allow-only filter
             {true, true, true,
              {"Monitor", "Keep file list*", "Show file list", "Show user info", "", "Ban", "Disconnect"}}}) {
      OneClient one({file_lists, !file_lists, filter_enabled, block_listed});
      QVERIFY(one.ready());
      auto menu = one.list.buildMenu();
      QStringList shown;
      for (QAction* action : menu->actions()) shown << action->text() + (action->isChecked() ? "*" : "");
      QCOMPARE(shown, items);
    }
  }

  void disconnectAndBanAskFirst() {
    OneClient one({.filter_enabled = true, .block_listed = true});
    QVERIFY(one.ready());
    // PORT puts the named host into the peer address; the ban takes the
    // address the connection came from.
    QCOMPARE(one.client->ask("PORT 10,9,8,7,4,1").value_or(""), std::string("200 Command OK"));
    auto menu = one.list.buildMenu();
    one.answer = false;
    Item(*menu, "Disconnect")->trigger();
    Item(*menu, "Ban")->trigger();
    const QString name = QString::fromStdString(kClientName);
    QCOMPARE(one.questions, QStringList({"Disconnect user " + name + "?", "Ban host " + name + "?"}));
    QVERIFY(one.client->ask("NOOP"));  // Cancel: still served, nothing listed
    QVERIFY(!std::filesystem::exists(one.fixture.server().filtersFile()));

    one.answer = true;
    Item(*menu, "Ban")->trigger();
    QVERIFY(one.client->waitClosed() && one.fixture.waitForRegistered(0));
    QCOMPARE(ReadFile(one.fixture.server().filtersFile()), std::string("127.0.0.1\r\n"));
    LineClient again;  // the entry now refuses the host at admission
    QVERIFY(again.connect(one.fixture.port()));
    QVERIFY(again.readReply().value_or("").rfind("421 Host ", 0) == 0);
  }

  // Lines follow the registry and keep the selection. The commands act on
  // a live connection; on a gone one (the record is still held here: only
  // the registry says it is gone) nothing acts.
  void linesAndCommandsOnLiveAndGoneConnections() {
    OneClient one({.file_lists = true, .filter_enabled = true, .block_listed = true});
    auto second = one.fixture.connect();
    QVERIFY(one.ready() && second && one.fixture.waitForRegistered(2));
    one.list.refresh();
    QCOMPARE(one.list.item(0)->text(), QString::fromStdString(kClientName));
    Item(*one.list.buildMenu(), "Monitor")->trigger();
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(true, true));
    auto menu = one.list.buildMenu();
    one.list.setCurrentRow(1);
    QVERIFY(one.client->command("QUIT") && one.fixture.waitForRegistered(1));
    one.list.refresh();
    QVERIFY(one.list.count() == 1 && one.list.item(0)->isSelected());
    for (const char* item : {"Disconnect", "Ban", "Show user info", "Show file list", "Monitor", "Keep file list"})
      Item(*menu, item)->trigger();
    QVERIFY(one.questions.isEmpty());
    QVERIFY(!std::filesystem::exists(one.fixture.server().filtersFile()));
    QVERIFY(one.list.findChildren<UserInfoWindow*>().isEmpty());
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(true, true));
    one.list.clearSelection();
    QVERIFY(!one.list.buildMenu());  // no menu without a selected line
  }

  // The information is a snapshot of the moment it opened; the file lists
  // come on request; the window may close while it traces the route.
  void userInformationAndFileLists() {
    OneClient one({.file_lists = true, .monitor = true});
    QVERIFY(one.ready());
    one.fixture.root().write("a.txt", "alpha\r\n");
    QCOMPARE(one.fixture.passiveTransfer(*one.client, "RETR a.txt").value_or(""), std::string("alpha\r\n"));
    UserInfoWindow* window = one.open("Show user info");
    QCOMPARE(window->windowTitle(), "User info: " + QString::fromStdString(kClientName));
    QString information = Shown("\r\nHost name: " + kClientName +
                                "\r\nIP Address: 127.0.0.1\r\nLogon: anonymous\r\nPassword: guest@example.test"
                                "\r\nWorking dir: " + one.fixture.root().dir() +
                                "\r\nConnected since: " + LocalTimeText(one.record->identity.connected_since) +
                                "\r\nLast activity: " + LocalTimeText(one.record->shared.last_activity) +
                                "\r\nLast command: RETR a.txt\r\n\r\n");
    QCOMPARE(window->text(), information);
    QVERIFY(one.client->ask("NOOP"));
    QVERIFY(one.open("Show user info")->text().contains("Last command: NOOP\n"));
    QString lists = Shown("\r\nDownloads:\r\n" + one.fixture.root().dir() + "a.txt\r\n\r\nUploads:\r\nNone\r\n\r\n");
    QCOMPARE(one.open("Show file list")->text(), lists);
    QTest::mouseClick(window->findChild<QPushButton*>("fileList"), Qt::LeftButton);
    QCOMPARE(window->text(), information + lists);  // the open window kept its snapshot
    QPointer<UserInfoWindow> closing(window);  // closing during a trace is safe
    closing->traceRoute();
    closing->close();
    QTRY_VERIFY_WITH_TIMEOUT(closing.isNull(), 5000);
  }

  // The probe's checksum, and which received datagrams count as answers.
  void traceProbesAndAnswers() {
    const uint8_t sample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    QCOMPARE(InternetChecksum(sample), uint16_t{0x220d});  // RFC 1071's example
    QCOMPARE(InternetChecksum(BuildEchoRequest(0x1234, 0x0102, 0xA1B2C3D4)), uint16_t{0});  // a correct one sums to 0
    auto short_reply = Echo(0, 77, 5);
    short_reply.resize(27);
    auto short_report = ErrorReport(11, 77, 5);
    short_report.resize(55);
    // From a raw socket (IP header first, our identifier) or not; the answer's type, or -1 for none.
    using Datagram = std::tuple<const char*, std::vector<uint8_t>, bool, int>;
    for (const auto& [name, datagram, raw, type] : std::vector<Datagram>{
             {"echo reply", Echo(0, 77, 5), true, 0},
             {"time exceeded", ErrorReport(11, 77, 5), true, 11},
             {"unreachable", ErrorReport(3, 77, 5), true, 3},
             {"datagram socket, kernel's identifier", Echo(0, 999, 5, false), false, 0},
             {"own request looped back", Echo(8, 77, 5), true, -1},
             {"late reply", Echo(0, 77, 4), true, -1},
             {"other program's echo", Echo(0, 78, 5), true, -1},
             {"late report", ErrorReport(11, 77, 4), true, -1},
             {"short reply", short_reply, true, -1},
             {"short report", short_report, true, -1},
             {"empty", {}, true, -1}}) {
      auto answer = ParseIcmpDatagram(datagram, raw, "10.0.0.3", 77, 5, raw);
      QVERIFY2((answer ? int(answer->type) : -1) == type && (!answer || answer->from == "10.0.0.3"), name);
    }
  }

  void traceHopLines() {
    using Lines = std::vector<std::string>;
    const std::string done = "\tfar.test\t\r\nRoute trace complete\r\n";
    TraceRequest unopenable = Scripted({});
    unopenable.destination = "not an address";
    unopenable.open = OpenIcmpChannel;
    const std::vector<std::pair<TraceRequest, Lines>> cases{
        {Scripted({IcmpAnswer{0, "10.0.0.9"}}), {"1\t10.0.0.9" + done}},
        {Scripted({IcmpAnswer{11, "192.168.1.1"}, IcmpAnswer{0, "10.0.0.8"}, IcmpAnswer{3, "10.0.0.7"},
                   IcmpAnswer{0, "10.0.0.9"}}),
         {"1\t192.168.1.1\t\t\r\n", "2\t10.0.0.8\t\t\r\n", "3\t10.0.0.7\t\t : Destination unreachable\r\n",
          "4\t10.0.0.9" + done}},
        {Scripted({ENETUNREACH, IcmpAnswer{0, "10.0.0.9"}}),
         {"1 - The network cannot be reached from this host at this time.\r\n", "1\t10.0.0.9" + done}},
        {Scripted({}, 3), {"1\t" + kTimeout, "2\t" + kTimeout, "The socket is not already bound to an address.\r\n"}},
        {unopenable, {"No IPv4 address to trace.\r\n"}},  // a channel that cannot be opened
    };
    for (auto [request, expected] : cases) {
      Lines lines;
      request.append = [&lines](std::string line) { lines.push_back(std::move(line)); };
      std::atomic<bool> stop{false};
      TraceRoute(request, stop);
      QCOMPARE(lines, expected);
    }
  }

  void traceRunnerStopsARunningTraceAndGoesQuiet() {
    auto calls = std::make_shared<std::atomic<int>>(0);
    TraceRunner runner;
    QVERIFY(runner.start(Scripted({}, 0, true), [calls](std::string) { ++*calls; }, [calls] { ++*calls; }));
    QVERIFY(!runner.start(Scripted({}), {}, {}));  // one trace at a time
    runner.stop();
    QVERIFY(!runner.running());
    QCOMPARE(calls->load(), 0);  // neither a line nor the end after stopping
  }

  void cacheTreeNestsAndLabelsEntries() {
    DialogServer fixture;
    auto& files = fixture.server().fileCache();
    auto& listings = fixture.server().directoryCache();
    // The files come first: the later listings adopt them.
    QVERIFY(files.add("/ftp/pub/a.zip", Bytes("zip"), cache::kFileTag));
    QVERIFY(files.add("/ftp/b.txt", Bytes(std::string(1536, 's')), cache::kFileTag));
    QVERIFY(files.add("/other/big.bin", Bytes(std::string(2097152, 'b')), cache::kFileTag));
    QVERIFY(files.lookup("/other/big.bin") && files.lookup("/other/big.bin"));
    QVERIFY(listings.add("/ftp/", Bytes("listing"), cache::kListingTag));
    QVERIFY(listings.add("/ftp/pub/", Bytes("listing"), cache::kListingTag));
    OpenView open(fixture.server());
    QCOMPARE(open.view->windowTitle(), QString("Cache contents"));
    QVERIFY(open.find("/ftp/") && !open.find("/ftp/")->parent());
    QCOMPARE(open.find("pub")->parent(), open.find("/ftp/"));
    QCOMPARE(open.find("a.zip")->parent(), open.find("pub"));
    QCOMPARE(open.find("b.txt")->parent(), open.find("/ftp/"));
    QCOMPARE(open.tree()->topLevelItemCount(), 2);

    open.select("/other/big.bin");
    QCOMPARE(open.selectionText(), QString("2.00 mb\n Hits: 3"));
    open.select("b.txt");
    QCOMPARE(open.selectionText(), QString("1.50 kb\n Hits: 1"));

    open.click("&Remove");  // only the selected entry
    QCOMPARE(files.count(), 2u);
    QVERIFY(!open.find("b.txt") && open.find("a.zip"));
    open.select("a.zip");
    open.click("&Clear All");
    QCOMPARE(listings.count() + files.count(), 0u);
    QCOMPARE(open.view->windowTitle(), QString("Cache View - Empty"));
    QVERIFY(open.selectionText().isEmpty());
  }

  void cacheRefreshAndReloadServeTheNewContent() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) {
      s.anonymous.allow = s.anonymous.rights = s.cache.cacheDirs = s.cache.cacheFiles = 1;
    });
    // Written "an hour ago": a copy of something changed this very moment
    // may rightly not be cached.
    auto write = [&](const std::string& name, const std::string& text) {
      fixture.root().write(name, text);
      auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
      std::filesystem::last_write_time(fixture.root().path() / name, past);
      std::filesystem::last_write_time(fixture.root().path(), past);
    };
    write("a.txt", "first\r\n");
    auto client = fixture.login("anonymous", "guest@");
    QVERIFY(client && fixture.passiveTransfer(*client, "LIST"));
    QCOMPARE(fixture.passiveTransfer(*client, "RETR a.txt").value_or(""), std::string("first\r\n"));
    auto& files = fixture.server().fileCache();
    auto& listings = fixture.server().directoryCache();
    QVERIFY(files.count() == 1 && listings.count() == 1);
    write("a.txt", "second, longer\r\n");
    write("b.txt", "b\r\n");

    OpenView open(fixture.server());
    open.select(fixture.root().dir());
    open.click("Re&fresh");
    QVERIFY(!open.tree()->selectedItems().isEmpty());  // still selected, with the new numbers
    QVERIFY(fixture.passiveTransfer(*client, "LIST").value_or("").find("b.txt") != std::string::npos);
    open.select("a.txt");
    open.click("Re&fresh");
    QCOMPARE(files.used(), uint64_t{16});
    QCOMPARE(fixture.passiveTransfer(*client, "RETR a.txt").value_or(""), std::string("second, longer\r\n"));

    write("a.txt", "third\r\n");
    open.click("Re&load All");
    QCOMPARE(fixture.passiveTransfer(*client, "RETR a.txt").value_or(""), std::string("third\r\n"));
    uint64_t sizes = 0;
    for (const auto& entry : listings.entries()) sizes += entry.size;
    QCOMPARE(listings.used(), sizes);  // the total follows the new sizes
  }

  // Each path goes bad on disk after it was cached; Refresh and Reload All
  // drop the entry instead of letting an error end the process.
  void cacheEntriesThatTurnedUnreadableAreDropped() {
    for (const auto& [change, listing] : std::vector<std::pair<std::string, bool>>{
             {"file became a directory", false}, {"file gone", false}, {"file is a symlink loop", false},
             {"listing is a symlink loop", true}, {"listing became a file", true}}) {
      for (const QString button : {"Re&fresh", "Re&load All"}) {
        DialogServer fixture;
        std::filesystem::path path = fixture.root().path() / "entry";
        std::string key = path.string() + (listing ? "/" : "");
        auto& cache = listing ? fixture.server().directoryCache() : fixture.server().fileCache();
        QVERIFY(cache.add(key, Bytes("old"), listing ? cache::kListingTag : cache::kFileTag));
        if (change.ends_with("directory")) std::filesystem::create_directory(path);
        if (change.ends_with("a file")) fixture.root().write("entry", "x");
        if (change.ends_with("loop")) {
          std::filesystem::create_symlink(fixture.root().path() / "other", path);
          std::filesystem::create_symlink(path, fixture.root().path() / "other");
        }
        OpenView open(fixture.server());
        open.select(key);
        open.click(button);
        QVERIFY2(cache.count() == 0 && open.view->windowTitle() == "Cache View - Empty", change.c_str());
      }
    }
  }

  void homeOutsideTheRootKeepsTheAccountDialogOpen() {
    AccountsFixture f;
    auto accepted = [&](const std::string& home) {
      AccountDialog dialog("Add User", Account("carol", home), f.root, f.server.prompts, nullptr);
      Press(&dialog);
      return dialog.result() == QDialog::Accepted;
    };
    QVERIFY(!accepted("/elsewhere/"));
    QVERIFY(f.server.prompts.messages.contains(accounts::kHomeOutsideRootText));
    QVERIFY(!accepted(f.root + "../outside/"));  // starts with the root but climbs out
    QVERIFY(!accepted(f.root.substr(0, f.root.size() - 1) + "-other/"));
    QVERIFY(accepted(f.root.substr(0, f.root.size() - 1)));  // as a folder picker returns the root
  }

  void addedAccountLogsInAtOnceAndDoneSavesItOverTheFileAsItIsNow() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.server.prompts, nullptr);
    auto ran = WhenModal<AccountDialog>([&](AccountDialog* add) {
      QCOMPARE(Find<QLineEdit>(add, "homeEdit")->text(), QString::fromStdString(f.root));
      QCOMPARE(Find<QLineEdit>(add, "uploadsEdit")->text(), QString::fromStdString(f.root + "incoming/"));
      Set(add, {{"userNameEdit", "carol"}, {"passwordEdit", "pw"}, {"readCheck", true}});
      Press(add);
    });
    Click(&dialog, "addUserButton");
    QVERIFY(*ran);
    QCOMPARE(Texts(&dialog, "userList"), (QStringList{"alice", "bob", "carol"}));
    QVERIFY(f.server.login("carol", "pw"));  // the live store serves it before any save
    Remove(&dialog, 0);
    // Meanwhile the command line changed bob's password and added dave.
    f.write({Account("alice", f.root + "alice/"), Account("bob", f.root + "bob/", "new"), Account("dave", f.root)});
    Click(&dialog, "doneButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(f.onDisk(), (std::vector<std::string>{"bob:new", "dave:dave-secret", "carol:pw"}));
    QVERIFY(f.server.login("dave", "dave-secret"));  // the saved list is the one in force
  }

  void accountChangedOnDiskAndHereIsRefusedAndTheListReread() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.server.prompts, nullptr);
    dialog.show();
    Remove(&dialog, 0);
    f.write({Account("alice", f.root + "moved/"), Account("bob", f.root + "bob/")});
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QCOMPARE(f.server.prompts.messages.back(),
             QStringLiteral("The account alice was changed in the accounts file while this dialog was open. Nothing "
                            "was saved; the list now shows the file as it is. Make your changes again."));
    QCOMPARE(Texts(&dialog, "userList"), (QStringList{"alice", "bob"}));
    QCOMPARE(f.server.server().accounts().find("alice")->homeDir, f.root + "moved/");
    Remove(&dialog, 0);
    Click(&dialog, "doneButton");
    QCOMPARE(f.onDisk(), std::vector<std::string>{"bob:bob-secret"});
  }

  void addingATakenNameOverwritesOnlyNamePasswordAndPermissions() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.server.prompts, nullptr);
    for (bool overwrite : {false, true}) {
      f.server.prompts.answers = {overwrite};
      WhenModal<AccountDialog>([&](AccountDialog* add) {
        Set(add, {{"userNameEdit", "alice"}, {"passwordEdit", "changed"}, {"writeCheck", true},
                  {"homeEdit", QString::fromStdString(f.root + "other/")}});
        Press(add);
      });
      Click(&dialog, "addUserButton");
      QCOMPARE(f.server.prompts.questions.back(),
               QStringLiteral("User name alice already exists. Overwrite existing account information?"));
      QCOMPARE(dialog.modified(), overwrite);
    }
    auto alice = f.server.server().accounts().find("alice");
    QCOMPARE(alice->password, std::string("changed"));
    QCOMPARE(int(alice->permissions), accounts::kWrite);
    QCOMPARE(alice->homeDir, f.root + "alice/");
    QCOMPARE(Texts(&dialog, "userList"), (QStringList{"alice", "bob"}));
  }

  void modifyReplacesEveryFieldButRefusesAnotherAccountsName() {
    AccountsFixture f;
    AccountsDialog dialog(f.server.server(), f.server.prompts, nullptr);
    Find<QListWidget>(&dialog, "userList")->setCurrentRow(1);
    auto ran = WhenModal<AccountDialog>([&](AccountDialog* modify) {
      QCOMPARE(Find<QLineEdit>(modify, "userNameEdit")->text(), QStringLiteral("bob"));
      Set(modify, {{"userNameEdit", "alice"}});
      Press(modify);
      QVERIFY(modify->isVisible());
      Set(modify, {{"userNameEdit", "robert"}, {"readCheck", false}, {"deleteCheck", true}});
      Press(modify);
    });
    Click(&dialog, "modifyButton");
    QVERIFY(*ran);
    QCOMPARE(Texts(&dialog, "userList"), (QStringList{"alice", "robert"}));
    QCOMPARE(int(f.server.server().accounts().find("robert")->permissions), accounts::kDelete);
  }

  void cancelRereadsUnchangedWritesNothingAndAFailedSaveKeepsTheDialog() {
    AccountsFixture f;
    {
      AccountsDialog dialog(f.server.server(), f.server.prompts, nullptr);
      Remove(&dialog, 0);
      QVERIFY(!f.server.server().accounts().exists("alice"));
      Click(&dialog, "cancelButton");
      QCOMPARE(f.server.server().accounts().size(), size_t{2});
    }
    std::filesystem::remove(f.file);
    AccountsDialog unchanged(f.server.server(), f.server.prompts, nullptr);
    Click(&unchanged, "doneButton");
    QVERIFY(!std::filesystem::exists(f.file));

    f.server.programDirectory().write("blocker", "");  // a plain file where a directory should be
    std::string unwritable = (f.server.programDirectory().path() / "blocker" / "accounts.lgn").string();
    f.server.server().updateSettings([&](settings::Settings& s) { s.logonFile = unwritable; });
    AccountsDialog dialog(f.server.server(), f.server.prompts, nullptr);
    dialog.show();
    Remove(&dialog, 0);
    Click(&dialog, "doneButton");
    QVERIFY(dialog.isVisible());
    QCOMPARE(f.server.prompts.messages.back(), QString::fromStdString("Cannot write the accounts file " + unwritable +
                                                                ": Not a directory"));
  }

  // It shows the flag, the mode and the wildcard form; Cancel changes
  // nothing; OK applies the edits to the file as it is now.
  void filterEditorEditsAndAppliesToTheFileAsItIsNow() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) { s.general.filterEnabled = 1; });
    fixture.server().filterList().replace({"192.168.[0-9]+", "10.0.0.1"});
    {
      FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
      QVERIFY(Find<QCheckBox>(&editor, "enableFilterCheck")->isChecked());
      QVERIFY(Find<QRadioButton>(&editor, "allowOnlyRadio")->isChecked());
      for (const char* text : {"host.example", "HOST.Example", "   ", ""}) Add(&editor, text);  // once, no blanks
      QCOMPARE(Texts(&editor, "entryList"), (QStringList{"192.168.*", "10.0.0.1", "host.example"}));
      QVERIFY(!Find(&editor, "removeButton")->isEnabled());
      Find<QListWidget>(&editor, "entryList")->setCurrentRow(1);
      QCOMPARE(Find<QLineEdit>(&editor, "entryEdit")->text(), QStringLiteral("10.0.0.1"));
      Click(&editor, "removeButton");
      QCOMPARE(Texts(&editor, "entryList"), (QStringList{"192.168.*", "host.example"}));
      Press(&editor, QDialogButtonBox::Cancel);
    }
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"192.168.[0-9]+", "10.0.0.1"}));
    QVERIFY(!std::filesystem::exists(fixture.server().filtersFile()));

    FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
    Set(&editor, {{"enableFilterCheck", false}, {"blockRadio", true}});
    Add(&editor, "127.0.*");
    Find<QListWidget>(&editor, "entryList")->setCurrentRow(0);
    Click(&editor, "removeButton");
    // Meanwhile the command line removed 10.0.0.1 and added 3.3.3.3.
    WriteFile(fixture.server().filtersFile(), "192.168.[0-9]+\r\n3.3.3.3\r\n");
    Press(&editor);
    QCOMPARE(ReadFile(fixture.server().filtersFile()), std::string("3.3.3.3\r\n127.0.[0-9]+\r\n"));
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"3.3.3.3", "127.0.[0-9]+"}));
    QCOMPARE(fixture.server().settings().general.filterEnabled, 0u);
    QCOMPARE(fixture.server().settings().general.blockListed, 1u);
    QVERIFY(fixture.prompts.messages.empty());
  }

  void filterOkClosesConnectedClientsTheFilterNowRefuses() {
    DialogServer fixture;
    auto kept = fixture.connect("127.0.0.1");
    auto banned = fixture.connect("127.0.0.2");
    QVERIFY(kept && banned && fixture.waitForRegistered(2));
    FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
    Set(&editor, {{"enableFilterCheck", true}, {"blockRadio", true}});
    Add(&editor, "127.0.0.2");
    Press(&editor);
    QVERIFY(banned->waitClosed() && fixture.waitForRegistered(1) && kept->ask("NOOP"));
  }

  void anUnreadableFilterFileIsNeverOverwrittenAndTheEditStillHolds() {
    DialogServer fixture;
    std::filesystem::create_directory(fixture.server().filtersFile());  // reading it fails
    FilterEditor editor(fixture.server(), fixture.prompts, nullptr);
    Add(&editor, "9.9.9.9");
    Press(&editor);
    QCOMPARE(fixture.prompts.messages,
             QStringList(QString::fromStdString("Cannot read " + fixture.server().filtersFile().string() +
                                                ": Is a directory")));
    QVERIFY(std::filesystem::is_directory(fixture.server().filtersFile()));
    QCOMPARE(fixture.server().filterList().entries(), filter::FilterEntries{"9.9.9.9"});
  }

  void configuredValuesReachServerAndDisk() {
    DialogServer fixture;
    std::string root = fixture.root().path().string();
    QVERIFY(ConfigureWith(fixture, {{"timeoutCheck", true}, {"timeoutSpin", 0}, {"maxTotalSpin", 0},
                                    {"perUserSpin", 0}, {"dirCacheSizeEdit", "10"},
                                    {"fileCacheSizeEdit", "4294967295"}, {"ftpRootEdit", QString::fromStdString(root)},
                                    {"uploadsEdit", QString::fromStdString(root + "/up")}, {"portEdit", "2121"},
                                    {"alwaysPortCheck", false}, {"tlsRequiredRadio", true}, {"tlsReuseCheck", true}}));
    settings::Settings current = fixture.server().settings();
    QCOMPARE(current.tls.mode * 10 + current.tls.requireSessionReuse, 21u);
    // Zeros stand for the defaults; paths end with a separator; the port
    // counts only with "Always use this port".
    const auto& general = current.general;
    QCOMPARE(std::vector<uint32_t>({general.timeoutMinutes, general.maxConnections, general.connectionsPerAddress,
                                    current.net.port}),
             std::vector<uint32_t>({60, 1000, 3, 21}));
    QCOMPARE(current.ftpRootDir + " " + current.uploadsDir, root + "/ " + root + "/up/");
    QCOMPARE(fixture.server().directoryCache().limit(), uint64_t{10} * 1024);
    QCOMPARE(fixture.server().fileCache().limit(), uint64_t{4294967295} * 1024);
    settings::RegistryStore reread(fixture.store().file());
    QVERIFY(reread.load());
    settings::Settings stored;
    settings::LoadSettings(reread, stored);
    QCOMPARE(stored.general, current.general);
    QCOMPARE(stored.ftpRootDir, root + "/");

    // The command line changes the file meanwhile: the next OK writes only
    // what the sheet changed, so the command line's values stay.
    settings::GeneralSettings by_cli = stored.general;
    by_cli.timeoutMinutes = 9;
    settings::WriteBlock(reread, by_cli);
    reread.setString(settings::kSettingsKey, "LogPath", "/cli.log");
    QCOMPARE(reread.save(), 0);
    QVERIFY(ConfigureWith(fixture, {{"maxTotalSpin", 7}, {"limitPerUserCheck", true}, {"perUserSpin", 1},
                                    {"closeOldestRadio", true}, {"filteringCheck", true}, {"allowListedRadio", true}}));
    auto changed = fixture.server().settings().general;
    QCOMPARE(std::vector<uint32_t>({changed.maxConnections, changed.connectionsPerAddress, changed.limitPerAddress,
                                    changed.refuseNew, changed.filterEnabled, changed.blockListed}),
             std::vector<uint32_t>({7, 1, 1, 0, 1, 0}));
    QVERIFY(reread.load());
    settings::LoadSettings(reread, stored);
    QCOMPARE(stored.logPath + " " + std::to_string(stored.general.timeoutMinutes) + " " +
                 std::to_string(stored.general.maxConnections),
             std::string("/cli.log 9 7"));
  }

  void configuredValuesOutOfRangeKeepTheSheetOpen() {
    for (const auto& [field, value, message] : std::vector<std::tuple<const char*, QString, QString>>{
             {"overflowEdit", "150", "Please enter an integer between 0 and 100."},
             {"portEdit", "65536", "Please enter an integer between 1 and 65535."},
             {"tlsKeyEdit", "key.pem", "Please enter absolute paths of both the certificate and the key, or neither."},
             {"portEdit", "none", ""}}) {
      DialogServer fixture;
      auto before = fixture.server().settings().cache;
      QVERIFY(!ConfigureWith(fixture, {{field, value}, {"dirCacheSizeEdit", "1"}}));
      QVERIFY(message.isEmpty() || fixture.prompts.messages.contains(message));
      QCOMPARE(fixture.server().settings().cache, before);
    }
  }

  // The flow hands its work to the control thread without waiting; when
  // that thread is busy the work runs after the flow is gone.
  void switchingAnonymousOffDisconnectsAnonymousUsers() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) {
      s.anonymous.allow = 1;
      s.anonymous.rights = 0xff;
    });
    auto anonymous = fixture.login("Anonymous", "guest@");
    auto other = fixture.connect();
    QVERIFY(anonymous && other && fixture.waitForRegistered(2));
    QVERIFY(ConfigureWith(fixture, {{"allowAnonymousCheck", true}, {"anonymousWriteCheck", false}}));
    QCOMPARE(int(fixture.server().settings().anonymous.rights), 1 | 4);  // rebuilt from the boxes
    std::promise<void> release;
    asio::post(fixture.server().context(), [held = release.get_future().share()] { held.wait_for(std::chrono::seconds(20)); });
    QVERIFY(ConfigureWith(fixture, {{"allowAnonymousCheck", false}, {"timeoutCheck", true}}));
    release.set_value();
    QVERIFY(anonymous->waitClosed() && fixture.waitForRegistered(1) && other->ask("NOOP"));
  }

  // Another default address needs a restart; the log file opens, closes and
  // reports a failure.
  void defaultAddressAndLogFile() {
    DialogServer fixture;
    std::string in_use = fixture.server().serverAddress();
    QVERIFY(ConfigureWith(fixture, {}, [](ConfigureDialog& dialog) {
      auto* list = Find<QListWidget>(&dialog, "addressList");
      list->addItem("127.0.0.2");
      list->setCurrentRow(list->count() - 1);
      Set(&dialog, {{"useDefaultRadio", true}});
    }));
    QCOMPARE(fixture.prompts.messages, QStringList("You must exit and restart Talvek FTP before changes to the "
                                                   "default IP address will take effect."));
    QCOMPARE(fixture.server().serverAddress(), in_use);
    QCOMPARE(settings::ReadDefaultIp(fixture.store()), std::string("127.0.0.2"));

    QString log_path = QString::fromStdString((fixture.programDirectory().path() / "ftp.log").string());
    QVERIFY(ConfigureWith(fixture, {{"recordLogCheck", true}, {"logPathEdit", log_path}}));
    QVERIFY(fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, {{"recordLogCheck", false}}));
    QVERIFY(!fixture.server().logThread().isOpen());
    QVERIFY(ConfigureWith(fixture, {{"recordLogCheck", true}, {"logPathEdit", log_path + "/no/ftp.log"}}));
    QVERIFY(fixture.prompts.messages.size() == 2 && fixture.prompts.messages[1].startsWith("Cannot open the log file"));
  }

  void screenshotsOfEveryConfigurationPage() {
    QByteArray docs = qgetenv("TALVEK_DOCS_DIR");
    if (docs.isEmpty()) QSKIP("TALVEK_DOCS_DIR is not set");
    DialogServer fixture;
    fixture.server().updateSettings([](settings::Settings& s) {
      s.ftpRootDir = "/srv/ftp/";
      s.uploadsDir = "/srv/ftp/incoming/";
      s.logonFile = "/home/operator/.talvek/accounts.lgn";
      s.logPath = "/home/operator/.talvek/ftp.log";
      s.cache = settings::CacheSettings::Defaults();
      s.general.timeoutIdle = 1;
      s.general.timeoutMinutes = 60;
      s.general.maxConnections = 1000;
      s.general.connectionsPerAddress = 3;
      s.net.port = 21;
    });
    auto dialog = ConfigureFlow(fixture.server(), fixture.store(), fixture.prompts).makeDialog(nullptr);
    dialog->resize(520, 520);
    dialog->show();
    const char* names[] = {"paths", "anonymous", "general", "cache", "advanced", "tls"};
    for (int i = 0; i < 6; ++i) {
      dialog->pages()->setCurrentIndex(i);
      QCoreApplication::processEvents();
      QString file = QString::fromLocal8Bit(docs) + "/console-config-" + names[i] + ".png";
      QVERIFY2(dialog->grab().save(file), qPrintable(file));
    }
  }
};

int main(int argc, char** argv) {
  ConsoleApplication app(argc, argv);
  ConsoleTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "console_test.moc"
