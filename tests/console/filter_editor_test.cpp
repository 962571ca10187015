// The IP filter editor against a real server on loopback: what it shows,
// the add rules, OK applying the edits to Filters.txt as it is on disk, and
// closing connected clients the filter now refuses.
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
  void showsTheFlagTheModeAndTheWildcardFormAndEditsTheList() {
    DialogServer fixture([](settings::Settings& s, const DialogServer&) { s.general.filterEnabled = 1; });
    fixture.server().filterList().replace({"192.168.[0-9]+", "10.0.0.1"});
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    QVERIFY(Find<QCheckBox>(&editor, "enableFilterCheck")->isChecked());
    QVERIFY(Find<QRadioButton>(&editor, "allowOnlyRadio")->isChecked());
    for (const char* text : {"host.example", "HOST.Example", "   ", ""}) Add(&editor, text);  // one of each, no blanks
    QCOMPARE(Entries(&editor), (QStringList{"192.168.*", "10.0.0.1", "host.example"}));
    auto* remove = Find<QPushButton>(&editor, "removeButton");
    QVERIFY(!remove->isEnabled());
    Find<QListWidget>(&editor, "entryList")->setCurrentRow(1);
    QCOMPARE(Find<QLineEdit>(&editor, "entryEdit")->text(), QStringLiteral("10.0.0.1"));
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(Entries(&editor), (QStringList{"192.168.*", "host.example"}));
    Press(&editor, QDialogButtonBox::Cancel);  // changes nothing
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"192.168.[0-9]+", "10.0.0.1"}));
    QVERIFY(!std::filesystem::exists(fixture.server().filtersFile()));
  }

  void okAppliesTheEditsToTheFileAsItIsNowWithTheFlagAndMode() {
    DialogServer fixture;
    fixture.server().filterList().replace({"1.1.1.1", "2.2.2.2"});
    ScriptedPrompts prompts;
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Find<QCheckBox>(&editor, "enableFilterCheck")->setChecked(true);
    Find<QRadioButton>(&editor, "allowOnlyRadio")->setChecked(true);
    Add(&editor, "127.0.*");
    Find<QListWidget>(&editor, "entryList")->setCurrentRow(0);
    QTest::mouseClick(Find<QPushButton>(&editor, "removeButton"), Qt::LeftButton);
    // Meanwhile the command line removed 2.2.2.2 and added 3.3.3.3.
    talvek::test::WriteFile(fixture.server().filtersFile(), "1.1.1.1\r\n3.3.3.3\r\n");
    Press(&editor, QDialogButtonBox::Ok);
    QCOMPARE(talvek::test::ReadFile(fixture.server().filtersFile()), std::string("3.3.3.3\r\n127.0.[0-9]+\r\n"));
    QCOMPARE(fixture.server().filterList().entries(), (filter::FilterEntries{"3.3.3.3", "127.0.[0-9]+"}));
    QCOMPARE(fixture.server().settings().general.filterEnabled, 1u);
    QCOMPARE(fixture.server().settings().general.blockListed, 0u);
    QVERIFY(prompts.messages.empty());
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
    talvek::test::LineClient again;  // refused at admission too
    QVERIFY(again.connect(fixture.port(), "127.0.0.1", "127.0.0.2"));
    QVERIFY(again.readReply().value_or("").rfind("421 Host 127.0.0.2", 0) == 0);
  }

  void anUnreadableFileIsNeverOverwrittenAndTheEditStillHolds() {
    DialogServer fixture;
    ScriptedPrompts prompts;
    std::filesystem::create_directory(fixture.server().filtersFile());  // reading it fails
    FilterEditor editor(fixture.server(), prompts, nullptr);
    Add(&editor, "9.9.9.9");
    Press(&editor, QDialogButtonBox::Ok);
    QCOMPARE(prompts.messages.size(), size_t{1});
    QCOMPARE(prompts.messages.front().text,
             QString::fromStdString("Cannot read " + fixture.server().filtersFile().string() + ": Is a directory"));
    QVERIFY(std::filesystem::is_directory(fixture.server().filtersFile()));
    QCOMPARE(fixture.server().filterList().entries(), filter::FilterEntries{"9.9.9.9"});
  }
};

QTEST_MAIN(FilterEditorTest)
#include "filter_editor_test.moc"
