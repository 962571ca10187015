// The user list against a real server on loopback: its lines, the popup
// menu per switches and filter mode, the commands on live and on gone
// connections, and the user information window.
#include <QtTest>

#include <QMenu>
#include <QPushButton>

#include "console/support/dialog_fixture.h"
#include "console/user_info_window.h"
#include "console/user_list_widget.h"

using namespace talvek;
using console::UserInfoWindow;
using console::UserListWidget;

namespace {

const std::string kClientName = "client.example.test";

QAction* Item(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions())
    if (action->text() == text) return action;
  return nullptr;
}

// Both switches as the control thread sees them.
std::pair<bool, bool> Switches(server::Server& server, const std::shared_ptr<server::ConnectionRecord>& record) {
  auto seen = server.callOnControlThread<std::pair<bool, bool>>(
      [record] { return std::make_pair(record->monitor, record->record_file_lists); });
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
      : fixture([options](settings::Settings& s, const test::DialogServer& self) {
          s.general.recordFileLists = options.file_lists;
          s.general.monitorNew = options.monitor;
          s.general.filterEnabled = options.filter_enabled;
          s.general.blockListed = options.block_listed;
          s.anonymous.allow = 1;
          s.anonymous.rights = 1;
          // Allow-only mode admits the listed client; block mode starts empty.
          if (options.filter_enabled && !options.block_listed) self.programDirectory().write("Filters.txt", "127.0.0.1\r\n");
        }, kClientName),
        list(fixture.server(), nullptr) {
    client = fixture.login("anonymous", "guest@example.test");
    if (!client || !fixture.waitForRegistered(1)) return;
    record = fixture.onlyRecord();
    list.setConfirm([this](QWidget*, const QString& question) {
      questions << question;
      return answer;
    });
    list.refresh();
    list.setCurrentRow(0);
  }
  bool ready() const { return client && record && list.count() == 1; }
  UserInfoWindow* infoWindow() {
    Item(*list.buildMenu(), "Show user info")->trigger();
    return list.findChildren<UserInfoWindow*>().back();
  }

  test::DialogServer fixture;
  UserListWidget list;
  std::unique_ptr<test::LineClient> client;
  std::shared_ptr<server::ConnectionRecord> record;
  QStringList questions;
  bool answer = true;
};

}  // namespace

class UserListTest : public QObject {
  Q_OBJECT

 private slots:
  void linesFollowTheRegistryAndKeepTheSelection() {
    OneClient one;
    auto second = one.fixture.connect();
    QVERIFY(one.ready() && second && one.fixture.waitForRegistered(2));
    one.list.refresh();
    QCOMPARE(one.list.item(0)->text(), QString::fromStdString(kClientName));
    one.list.setCurrentRow(1);
    QVERIFY(one.client->command("QUIT") && one.fixture.waitForRegistered(1));
    one.list.refresh();
    QVERIFY(one.list.count() == 1 && one.list.item(0)->isSelected());
    one.list.clearSelection();
    QVERIFY(!one.list.buildMenu());  // no menu without a selected line
  }

  void menuItemsFollowSwitchesAndFilterMode_data() {
    QTest::addColumn<bool>("file_lists");
    QTest::addColumn<bool>("filter_enabled");
    QTest::addColumn<bool>("block_listed");
    QTest::addColumn<QStringList>("items");
    const QStringList plain{"Monitor", "Keep file list", "Show user info", "", "Disconnect"};
    QTest::newRow("no filter") << false << false << true << plain;
    QTest::newRow("allow-only filter") << false << true << false << plain;
    QTest::newRow("file lists, block filter")
        << true << true << true
        << QStringList{"Monitor", "Keep file list", "Show file list", "Show user info", "", "Ban", "Disconnect"};
  }

  void menuItemsFollowSwitchesAndFilterMode() {
    QFETCH(bool, file_lists);
    QFETCH(bool, filter_enabled);
    QFETCH(bool, block_listed);
    QFETCH(QStringList, items);
    OneClient one({file_lists, !file_lists, filter_enabled, block_listed});
    QVERIFY(one.ready());
    auto menu = one.list.buildMenu();
    QStringList shown;
    for (QAction* action : menu->actions()) shown << action->text();
    QCOMPARE(shown, items);
    QCOMPARE(Item(*menu, "Monitor")->isChecked(), !file_lists);
    QCOMPARE(Item(*menu, "Keep file list")->isChecked(), file_lists);
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
    QVERIFY(one.client->waitClosed());
    QCOMPARE(test::ReadFile(one.fixture.server().filtersFile()), std::string("127.0.0.1\r\n"));
    QVERIFY(one.fixture.waitForRegistered(0));
    test::LineClient again;  // the entry now refuses the host at admission
    QVERIFY(again.connect(one.fixture.port()));
    QVERIFY(again.readReply().value_or("").rfind("421 Host ", 0) == 0);
  }

  // The switches act on a live connection; on a gone one (the record is
  // still held here: only the registry says it is gone) nothing acts.
  void commandsOnLiveAndGoneConnections() {
    OneClient one({.file_lists = true, .filter_enabled = true, .block_listed = true});
    QVERIFY(one.ready());
    Item(*one.list.buildMenu(), "Monitor")->trigger();
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(true, true));
    auto menu = one.list.buildMenu();
    QVERIFY(one.client->command("QUIT"));
    QVERIFY(one.fixture.waitForRegistered(0));
    for (const char* item : {"Disconnect", "Ban", "Show user info", "Show file list", "Monitor", "Keep file list"})
      Item(*menu, item)->trigger();
    QVERIFY(one.questions.isEmpty());
    QVERIFY(!std::filesystem::exists(one.fixture.server().filtersFile()));
    QVERIFY(one.list.findChildren<UserInfoWindow*>().isEmpty());
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(true, true));
  }

  void userInformationIsASnapshot() {
    OneClient one({.monitor = true});
    QVERIFY(one.ready());
    QVERIFY(one.client->ask("NOOP"));
    UserInfoWindow* window = one.infoWindow();
    QCOMPARE(window->windowTitle(), "User info: " + QString::fromStdString(kClientName));
    std::string expected = "\r\nHost name: " + kClientName +
                           "\r\nIP Address: 127.0.0.1\r\nLogon: anonymous\r\nPassword: guest@example.test"
                           "\r\nWorking dir: " + one.fixture.root().dir() +
                           "\r\nConnected since: " + console::LocalTimeText(one.record->connected_since) +
                           "\r\nLast activity: " + console::LocalTimeText(one.record->last_activity) +
                           "\r\nLast command: NOOP\r\n\r\n";
    QCOMPARE(window->text(), Shown(expected));
    QVERIFY(!window->findChild<QPushButton*>("fileList")->isEnabled());
    // A later command leaves the open window as it was; a new window shows it.
    QVERIFY(one.client->ask("SYST"));
    QVERIFY(window->text().contains("Last command: NOOP\n"));
    QVERIFY(one.infoWindow()->text().contains("Last command: SYST\n"));
  }

  void fileListsShowTransfers() {
    OneClient one({.file_lists = true});
    QVERIFY(one.ready());
    one.fixture.root().write("a.txt", "alpha\r\n");
    QCOMPARE(one.fixture.passiveTransfer(*one.client, "RETR a.txt").value_or(""), std::string("alpha\r\n"));
    Item(*one.list.buildMenu(), "Show file list")->trigger();
    UserInfoWindow* window = one.list.findChildren<UserInfoWindow*>().front();
    std::string path = one.fixture.root().dir() + "a.txt";
    QString lists = Shown("\r\nDownloads:\r\n" + path + "\r\n\r\nUploads:\r\nNone\r\n\r\n");
    QCOMPARE(window->text(), lists);
    QTest::mouseClick(window->findChild<QPushButton*>("fileList"), Qt::LeftButton);
    QCOMPARE(window->text(), lists + lists);
  }

  void closingDuringATraceIsSafe() {
    OneClient one;
    QVERIFY(one.ready());
    QPointer<UserInfoWindow> closing(one.infoWindow());
    closing->traceRoute();
    closing->close();
    QTRY_VERIFY_WITH_TIMEOUT(closing.isNull(), 5000);
  }
};

QTEST_MAIN(UserListTest)
#include "user_list_test.moc"
