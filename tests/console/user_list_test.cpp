// The user list against a real server on loopback: its lines, the popup
// menu per switches and filter mode, the commands on live and on gone
// connections, and the user information window.
#include <QtTest>

#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include "console/support/user_fixture.h"
#include "console/trace_route.h"
#include "console/user_info_window.h"
#include "console/user_list_widget.h"

using namespace talvek;
using console::UserInfoWindow;
using console::UserListWidget;

namespace {

QStringList MenuItems(QMenu& menu) {
  QStringList items;
  for (QAction* action : menu.actions()) items << (action->isSeparator() ? QStringLiteral("-") : action->text());
  return items;
}

QAction* Item(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions())
    if (action->text() == text) return action;
  return nullptr;
}

// Both switches as the control thread sees them.
std::pair<bool, bool> Switches(server::Server& server, const std::shared_ptr<server::ConnectionRecord>& record) {
  std::pair<bool, bool> seen;
  server.runOnControlThread([&] { seen = {record->monitor, record->record_file_lists}; });
  return seen;
}

QString Shown(std::string text) { return QString::fromStdString(text).remove(QLatin1Char('\r')); }

// A list over one connected, selected client; the confirmation records its
// questions and answers with `answer`.
struct OneClient {
  explicit OneClient(test::UserServerOptions options = {}) : fixture(options), list(fixture.server(), nullptr) {
    client = fixture.connectAnonymous();
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

  test::UserServerFixture fixture;
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
  void linesFollowTheRegistry() {
    test::UserServerFixture fixture;
    UserListWidget list(fixture.server(), nullptr);
    auto first = fixture.connect();
    auto second = fixture.connect();
    QVERIFY(first && second);
    QVERIFY(fixture.waitForRegistered(2));
    list.refresh();
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.item(0)->text(), QString::fromStdString(test::kFakeClientName));
    list.setCurrentRow(1);
    auto kept = fixture.server().registrySnapshot()[1];

    QVERIFY(first->command("QUIT"));
    QVERIFY(fixture.waitForRegistered(1));
    list.refresh();
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.currentRow(), 0);  // the selected connection stays selected
    QVERIFY(list.item(0)->isSelected());
    QVERIFY(second->command("QUIT"));
    QVERIFY(fixture.waitForRegistered(0));
    list.refresh();
    QCOMPARE(list.count(), 0);
  }

  void noMenuWithoutSelection() {
    OneClient one;
    QVERIFY(one.ready());
    one.list.clearSelection();
    QVERIFY(!one.list.buildMenu());
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(1, 1), one.list.viewport()->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(one.list.viewport(), &event);  // returns at once: nothing to show
  }

  void menuItemsFollowSwitchesAndFilterMode_data() {
    QTest::addColumn<bool>("file_lists");
    QTest::addColumn<bool>("monitor");
    QTest::addColumn<bool>("filter_enabled");
    QTest::addColumn<bool>("block_listed");
    QTest::addColumn<QStringList>("items");
    const QStringList plain{"Monitor", "Keep file list", "Show user info", "-", "Disconnect"};
    QTest::newRow("switches off, no filter") << false << false << false << false << plain;
    QTest::newRow("filter off, block mode") << false << false << false << true << plain;
    QTest::newRow("allow-only filter") << false << true << true << false << plain;
    QTest::newRow("file lists, block filter")
        << true << false << true << true
        << QStringList{"Monitor", "Keep file list", "Show file list", "Show user info", "-", "Ban", "Disconnect"};
  }

  void menuItemsFollowSwitchesAndFilterMode() {
    QFETCH(bool, file_lists);
    QFETCH(bool, monitor);
    QFETCH(bool, filter_enabled);
    QFETCH(bool, block_listed);
    QFETCH(QStringList, items);
    test::UserServerOptions options{.file_lists = file_lists, .monitor = monitor, .filter_enabled = filter_enabled, .block_listed = block_listed};
    // Allow-only mode admits the listed client; block mode gets an empty list.
    if (!block_listed) options.filter_entries = {"127.0.0.1"};
    OneClient one(options);
    QVERIFY(one.ready());
    auto menu = one.list.buildMenu();
    QVERIFY(menu);
    QCOMPARE(MenuItems(*menu), items);
    QCOMPARE(Item(*menu, "Monitor")->isChecked(), monitor);
    QCOMPARE(Item(*menu, "Keep file list")->isChecked(), file_lists);
  }

  void switchesToggleOnTheRecord() {
    OneClient one;
    QVERIFY(one.ready());
    auto menu = one.list.buildMenu();
    Item(*menu, "Monitor")->trigger();
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(true, false));
    Item(*menu, "Keep file list")->trigger();
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(true, true));

    // The rebuilt menu shows the new state; a monitored command is remembered.
    menu = one.list.buildMenu();
    QVERIFY(Item(*menu, "Monitor")->isChecked());
    QVERIFY(Item(*menu, "Show file list"));
    QVERIFY(one.client->ask("NOOP"));
    std::lock_guard lock(one.record->text_mutex);
    QCOMPARE(one.record->last_command_line, std::string("NOOP"));
  }

  void disconnectAsksThenClosesTheClient() {
    OneClient one;
    QVERIFY(one.ready());
    auto menu = one.list.buildMenu();
    one.answer = false;
    Item(*menu, "Disconnect")->trigger();
    QCOMPARE(one.questions, QStringList{"Disconnect user " + QString::fromStdString(test::kFakeClientName) + "?"});
    QVERIFY(one.client->ask("NOOP"));  // Cancel: still served

    one.answer = true;
    Item(*menu, "Disconnect")->trigger();
    QVERIFY(one.client->waitClosed());
    QVERIFY(one.fixture.waitForRegistered(0));
  }

  void banAddsTheDottedAddressAndDisconnects() {
    OneClient one({.filter_enabled = true, .block_listed = true});
    QVERIFY(one.ready());
    // PORT puts the named host into the record's peer address; the ban
    // still takes the address the connection came from.
    QCOMPARE(one.client->ask("PORT 10,9,8,7,4,1").value_or(""), std::string("200 Command OK"));
    auto menu = one.list.buildMenu();
    Item(*menu, "Ban")->trigger();
    QCOMPARE(one.questions, QStringList{"Ban host " + QString::fromStdString(test::kFakeClientName) + "?"});
    QVERIFY(one.client->waitClosed());
    auto& server = one.fixture.server();
    QCOMPARE(test::ReadFile(server.filtersFile()), std::string("127.0.0.1\r\n"));
    QCOMPARE(server.filterList().entries(), std::vector<std::string>{"127.0.0.1"});
    QVERIFY(one.fixture.waitForRegistered(0));

    // The entry now refuses the host at admission.
    test::LineClient again;
    QVERIFY(again.connect(one.fixture.port()));
    QVERIFY(again.readReply().value_or("").rfind("421 Host ", 0) == 0);
  }

  void cancelledBanChangesNothing() {
    OneClient one({.filter_enabled = true, .block_listed = true});
    QVERIFY(one.ready());
    one.answer = false;
    auto menu = one.list.buildMenu();
    Item(*menu, "Ban")->trigger();
    QCOMPARE(one.questions.size(), 1);
    QVERIFY(!std::filesystem::exists(one.fixture.server().filtersFile()));
    QVERIFY(one.fixture.server().filterList().entries().empty());
    QVERIFY(one.client->ask("NOOP"));
  }

  // The record itself is still held here: only the registry says it is gone.
  void commandsOnAGoneConnectionDoNothing() {
    OneClient one({.file_lists = true, .filter_enabled = true, .block_listed = true});
    QVERIFY(one.ready());
    auto menu = one.list.buildMenu();
    QVERIFY(one.client->command("QUIT"));
    QVERIFY(one.fixture.waitForRegistered(0));
    for (const char* item : {"Disconnect", "Ban", "Show user info", "Show file list", "Monitor", "Keep file list"})
      Item(*menu, item)->trigger();
    QVERIFY(one.questions.isEmpty());
    QVERIFY(!std::filesystem::exists(one.fixture.server().filtersFile()));
    QVERIFY(one.list.findChildren<UserInfoWindow*>().isEmpty());
    QCOMPARE(Switches(one.fixture.server(), one.record), std::make_pair(false, true));
  }

  void userInformationIsASnapshot() {
    OneClient one({.monitor = true});
    QVERIFY(one.ready());
    QVERIFY(one.client->ask("NOOP"));
    one.list.setMonitorFont(QFont("Monospace", 11), Qt::darkBlue);
    one.list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&one.list));
    QPoint line = one.list.visualItemRect(one.list.item(0)).center();
    QTest::mouseClick(one.list.viewport(), Qt::LeftButton, {}, line);
    QTest::mouseDClick(one.list.viewport(), Qt::LeftButton, {}, line);
    auto windows = one.list.findChildren<UserInfoWindow*>();
    QCOMPARE(windows.size(), 1);
    UserInfoWindow* window = windows.front();
    QCOMPARE(window->windowTitle(), "User info: " + QString::fromStdString(test::kFakeClientName));
    QVERIFY(window->isVisible());
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));

    std::string directory;
    {
      std::lock_guard lock(one.record->text_mutex);
      directory = one.record->current_directory;
    }
    std::string expected = "\r\nHost name: " + test::kFakeClientName +
                           "\r\nIP Address: 127.0.0.1\r\nLogon: anonymous\r\nPassword: guest@example.test"
                           "\r\nWorking dir: " + directory +
                           "\r\nConnected since: " + console::LocalTimeText(one.record->connected_since) +
                           "\r\nLast activity: " + console::LocalTimeText(one.record->last_activity) +
                           "\r\nLast command: NOOP\r\n\r\n";
    QCOMPARE(window->text(), Shown(expected));

    auto* area = window->findChild<QPlainTextEdit*>("userText");
    QCOMPARE(area->font().family(), QFont("Monospace", 11).family());
    QCOMPARE(area->palette().color(QPalette::Text), QColor(Qt::darkBlue));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QRect inside = area->viewport()->geometry();
    QCOMPARE(inside.left() - area->frameWidth(), 5);
    QCOMPARE(area->width() - area->frameWidth() - inside.right() - 1, 5);
    QVERIFY(!window->findChild<QPushButton*>("fileList")->isEnabled());

    // A later command leaves the open window as it was; a new window shows it.
    QVERIFY(one.client->ask("SYST"));
    QVERIFY(window->text().contains("Last command: NOOP\n"));
    Item(*one.list.buildMenu(), "Show user info")->trigger();
    QCOMPARE(one.list.findChildren<UserInfoWindow*>().size(), 2);
    QVERIFY(one.list.findChildren<UserInfoWindow*>().back()->text().contains("Last command: SYST\n"));

    QPointer<UserInfoWindow> closing(window);
    QTest::mouseClick(window->findChild<QPushButton*>("done"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(closing.isNull(), 5000);
  }

  void fileListsShowTransfers() {
    OneClient one({.file_lists = true});
    QVERIFY(one.ready());
    one.fixture.ftpRoot().write("a.txt", "alpha\r\n");
    QCOMPARE(one.fixture.download(*one.client, "a.txt").value_or("<failed>"), std::string("alpha\r\n"));
    QVERIFY(one.fixture.download(*one.client, "a.txt"));

    auto menu = one.list.buildMenu();
    Item(*menu, "Show file list")->trigger();
    auto windows = one.list.findChildren<UserInfoWindow*>();
    QCOMPARE(windows.size(), 1);
    std::string path;
    {
      std::lock_guard lock(one.record->text_mutex);
      path = one.record->root_directory + "a.txt";
    }
    QString lists = Shown("\r\nDownloads:\r\n" + path + "\r\n" + path + "\r\n\r\nUploads:\r\nNone\r\n\r\n");
    QCOMPARE(windows.front()->text(), lists);
    auto* button = windows.front()->findChild<QPushButton*>("fileList");
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(windows.front()->text(), lists + lists);
  }

  void fileListsOfAnEmptyConnection() {
    console::UserSnapshot user;
    user.uploads_list = "Uploads:\r\n";
    user.downloads_list = "Downloads:\r\n";
    QCOMPARE(console::FileListsText(user), std::string("\r\nDownloads:\r\nNone\r\n\r\nUploads:\r\nNone\r\n\r\n"));
    QCOMPARE(console::LocalTimeText(0), std::string());
  }

  void traceRouteAppendsToTheWindow() {
    OneClient one;
    QVERIFY(one.ready());
    Item(*one.list.buildMenu(), "Show user info")->trigger();
    UserInfoWindow* window = one.list.findChildren<UserInfoWindow*>().front();
    QString before = window->text();
    QSignalSpy finished(window, &UserInfoWindow::traceFinished);
    auto* button = window->findChild<QPushButton*>("traceRoute");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled());  // one trace at a time
    QVERIFY(finished.wait(30000));
    QVERIFY(button->isEnabled());
    QString added = window->text().mid(before.size());
    QVERIFY2(added == Shown(console::kIcmpNotPermittedLine) ||
                 (added.startsWith("1\t127.0.0.1\t") && added.endsWith("\t\nRoute trace complete\n")),
             qPrintable(added));
  }

  void closingDuringATraceIsSafe() {
    OneClient one;
    QVERIFY(one.ready());
    Item(*one.list.buildMenu(), "Show user info")->trigger();
    QPointer<UserInfoWindow> window(one.list.findChildren<UserInfoWindow*>().front());
    window->traceRoute();
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
  }
};

QTEST_MAIN(UserListTest)
#include "user_list_test.moc"
