// The cache contents view over a real server's caches: the tree's nesting
// and labels, the selection text, and the remove, clear, refresh and reload
// commands, the last two checked through later FTP replies; entries whose
// path turned into something unreadable are dropped, never thrown out of a
// slot.
#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "console/cache_contents_view.h"
#include "console/support/dialog_fixture.h"

using namespace talvek;
using console::CacheContentsView;

namespace {

cache::CachedBytes Bytes(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

struct OpenView {
  explicit OpenView(server::Server& server) {
    console::ShowCacheContents(server, &parent);
    view = parent.findChild<CacheContentsView*>();
  }
  void click(const QString& text) const {
    for (auto* button : view->findChildren<QPushButton*>())
      if (button->text() == text) QTest::mouseClick(button, Qt::LeftButton);
  }
  QString enabled() const {
    QString states;
    for (const char* text : {"Re&fresh", "&Remove", "&Clear All", "Re&load All"})
      for (auto* button : view->findChildren<QPushButton*>())
        if (button->text() == text) states += button->isEnabled() ? "1" : "0";
    return states;
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

}  // namespace

class CacheContentsTest : public QObject {
  Q_OBJECT

 private slots:
  void treeNestsAndLabelsEntries() {
    test::DialogServer fixture;
    {
      OpenView empty(fixture.server());
      QCOMPARE(empty.view->windowTitle(), QString("Cache View - Empty"));
      QCOMPARE(empty.enabled(), QString("0000"));
    }
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
    QCOMPARE(open.enabled(), QString("0011"));
    QVERIFY(open.find("/ftp/") && !open.find("/ftp/")->parent());
    QCOMPARE(open.find("pub")->parent(), open.find("/ftp/"));
    QCOMPARE(open.find("a.zip")->parent(), open.find("pub"));
    QCOMPARE(open.find("b.txt")->parent(), open.find("/ftp/"));
    QCOMPARE(open.tree()->topLevelItemCount(), 2);

    open.select("/other/big.bin");
    QCOMPARE(open.selectionText(), QString("2.00 mb\n Hits: 3"));
    QCOMPARE(open.enabled(), QString("1111"));
    open.select("b.txt");
    QCOMPARE(open.selectionText(), QString("1.50 kb\n Hits: 1"));

    open.click("&Remove");  // only the selected entry
    QCOMPARE(files.count(), 2u);
    QVERIFY(!open.find("b.txt") && open.find("a.zip"));
    QCOMPARE(open.enabled(), QString("0011"));
    open.select("a.zip");
    open.click("&Clear All");
    QCOMPARE(listings.count() + files.count(), 0u);
    QCOMPARE(open.tree()->topLevelItemCount(), 0);
    QCOMPARE(open.view->windowTitle(), QString("Cache View - Empty"));
    QVERIFY(open.selectionText().isEmpty());
    QCOMPARE(open.enabled(), QString("0000"));
  }

  void refreshAndReloadServeTheNewContent() {
    test::DialogServer fixture([](settings::Settings& s, const test::DialogServer&) {
      s.anonymous.allow = 1;
      s.anonymous.rights = 1;
      s.cache.cacheDirs = 1;
      s.cache.cacheFiles = 1;
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
    QVERIFY(client);
    QVERIFY(fixture.passiveTransfer(*client, "LIST"));
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
  void entriesThatTurnedUnreadableAreDropped_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("listing");
    QTest::newRow("file became a directory") << "directory" << false;
    QTest::newRow("file gone") << "remove" << false;
    QTest::newRow("file is a symlink loop") << "loop" << false;
    QTest::newRow("listing is a symlink loop") << "loop" << true;
    QTest::newRow("listing became a file") << "file" << true;
  }

  void entriesThatTurnedUnreadableAreDropped() {
    QFETCH(QString, change);
    QFETCH(bool, listing);
    for (const QString button : {"Re&fresh", "Re&load All"}) {
      test::DialogServer fixture;
      std::filesystem::path path = fixture.root().path() / "entry";
      std::string key = path.string() + (listing ? "/" : "");
      auto& cache = listing ? fixture.server().directoryCache() : fixture.server().fileCache();
      QVERIFY(cache.add(key, Bytes("old"), listing ? cache::kListingTag : cache::kFileTag));
      if (change == "directory") std::filesystem::create_directory(path);
      if (change == "file") fixture.root().write("entry", "x");
      if (change == "loop") {
        std::filesystem::create_symlink(fixture.root().path() / "other", path);
        std::filesystem::create_symlink(path, fixture.root().path() / "other");
      }
      OpenView open(fixture.server());
      open.select(key);
      open.click(button);
      QCOMPARE(cache.count(), 0u);
      QCOMPARE(open.view->windowTitle(), QString("Cache View - Empty"));
    }
  }

};

QTEST_MAIN(CacheContentsTest)
#include "cache_contents_test.moc"
