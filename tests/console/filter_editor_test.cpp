// The IP filter editor against a real server on loopback: what it shows,
// the add rules, what OK stores and saves, and that OK closes connected
// clients the filter now refuses.
#include <QtTest>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "console/filter_editor.h"
#include "console/support/dialog_fixture.h"
#include "filter/filter_file.h"

using namespace talvek;
using namespace talvek::console;
using talvek::test::DialogServer;
using talvek::test::ScriptedPrompts;

namespace {

template <typename T>
T* Find(QWidget* dialog, const char* name) {
  return dialog->findChild<T*>(QLatin1String(name));
}

QStringList Entries(QWidget* editor) {
  QStringList entries;
  auto* list = Find<QListWidget>(editor, "entryList");
  for (int row = 0; row < list->count(); ++row) entries << list->item(row)->text();
  return entries;
}

void Add(QWidget* editor, const QString& text) {
  Find<QLineEdit>(editor, "entryEdit")->setText(text);
  QTest::mouseClick(Find<QPushButton>(editor, "addButton"), Qt::LeftButton);
}

void Press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
  QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(which), Qt::LeftButton);
}

}  // namespace

class FilterEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void opensOnTheFlagTheModeAndTheWildcardForm() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) {
      s.general.filterEnabled = 1;
      s.general.blockListed = 0;
    });
    fixture.server().filterList().replace({"192.168.[0-9]+", "10.0.0.1"});
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    QCOMPARE(editor.windowTitle(), QStringLiteral("IP Address Filtering"));
    QVERIFY(Find<QCheckBox>(&editor, "enableFilterCheck")->isChecked());
    QVERIFY(Find<QRadioButton>(&editor, "allowOnlyRadio")->isChecked());
    QCOMPARE(Entries(&editor), (QStringList{"192.168.*", "10.0.0.1"}));
  }

  void addKeepsOneOfEachIgnoringCaseAndNoBlanks() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Add(&editor, "host.example");
    Add(&editor, "HOST.Example");
    Add(&editor, "   ");
    Add(&editor, "");
    QCOMPARE(Entries(&editor), QStringList{"host.example"});
    QVERIFY(Find<QLineEdit>(&editor, "entryEdit")->text().isEmpty());
  }

  void selectingCopiesTheTextAndRemoveDeletesIt() {
    DialogServer fixture;
    fixture.server().filterList().replace({"1.2.3.4", "5.6.7.8"});
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    auto* remove = Find<QPushButton>(&editor, "removeButton");
    QVERIFY(!remove->isEnabled());
    Find<QListWidget>(&editor, "entryList")->setCurrentRow(1);
    QCOMPARE(Find<QLineEdit>(&editor, "entryEdit")->text(), QStringLiteral("5.6.7.8"));
    QVERIFY(remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(Entries(&editor), QStringList{"1.2.3.4"});
  }

  void okStoresTheListFlagAndModeAndSavesTheFile() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Find<QCheckBox>(&editor, "enableFilterCheck")->setChecked(true);
    Find<QRadioButton>(&editor, "allowOnlyRadio")->setChecked(true);
    Add(&editor, "127.0.*");
    Add(&editor, "10.0.0.1");
    Press(&editor, QDialogButtonBox::Ok);
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"127.0.[0-9]+", "10.0.0.1"}));
    QCOMPARE(fixture.server().settings().general.filterEnabled, 1u);
    QCOMPARE(fixture.server().settings().general.blockListed, 0u);
    QCOMPARE(talvek::test::ReadFile(fixture.server().filtersFile()), std::string("127.0.[0-9]+\r\n10.0.0.1\r\n"));
    QVERIFY(prompts.messages.empty());
  }

  void cancelChangesNothing() {
    DialogServer fixture;
    fixture.server().filterList().replace({"1.2.3.4"});
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Find<QCheckBox>(&editor, "enableFilterCheck")->setChecked(true);
    Add(&editor, "5.6.7.8");
    Press(&editor, QDialogButtonBox::Cancel);
    QCOMPARE(fixture.server().filterList().entries(), filter::FilterEntries{"1.2.3.4"});
    QCOMPARE(fixture.server().settings().general.filterEnabled, 0u);
    QVERIFY(!std::filesystem::exists(fixture.server().filtersFile()));
  }

  void okClosesConnectedClientsTheFilterNowRefuses() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    auto kept = fixture.connect("127.0.0.1");
    auto banned = fixture.connect("127.0.0.2");
    QVERIFY(kept && banned);
    QVERIFY(fixture.waitForRegistered(2));
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Find<QCheckBox>(&editor, "enableFilterCheck")->setChecked(true);
    Find<QRadioButton>(&editor, "blockRadio")->setChecked(true);
    Add(&editor, "127.0.0.2");
    Press(&editor, QDialogButtonBox::Ok);
    QVERIFY(banned->waitClosed());
    QVERIFY(fixture.waitForRegistered(1));
    QVERIFY(kept->ask("NOOP").has_value());
    // And a new client from the banned address is refused at admission.
    auto again = std::make_unique<talvek::test::LineClient>();
    QVERIFY(again->connect(fixture.port(), "127.0.0.1", "127.0.0.2"));
    auto reply = again->readReply();
    QVERIFY(reply.has_value());
    QVERIFY(reply->rfind("421 Host 127.0.0.2", 0) == 0);
  }

  void anUnwritableFileIsReportedAndTheListKept() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    // A directory where the file should be makes the write fail.
    std::filesystem::create_directory(fixture.server().filtersFile());
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Add(&editor, "9.9.9.9");
    Press(&editor, QDialogButtonBox::Ok);
    QCOMPARE(prompts.messages.size(), size_t{1});
    QVERIFY(prompts.messages.front().text.startsWith("Cannot write"));
    QCOMPARE(fixture.server().filterList().entries(), filter::FilterEntries{"9.9.9.9"});
  }
};

QTEST_MAIN(FilterEditorTest)
#include "filter_editor_test.moc"
