// The cache contents view over a real server's caches: the empty case, the
// tree's nesting and labels, the selection text, and the refresh, remove,
// reload and clear commands, checked through later FTP replies too.
#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "console/cache_contents_view.h"
#include "console/support/user_fixture.h"

using namespace talvek;
using console::CacheContentsView;

namespace {

cache::CachedBytes Bytes(std::string text) { return std::make_shared<const std::string>(std::move(text)); }

// The view opened by ShowCacheContents under a parent widget.
struct OpenView {
  explicit OpenView(server::Server& server) {
    console::ShowCacheContents(server, &parent);
    auto views = parent.findChildren<CacheContentsView*>();
    view = views.size() == 1 ? views.front() : nullptr;
  }
  QPushButton* button(const QString& text) const {
    for (auto* button : view->findChildren<QPushButton*>())
      if (button->text() == text) return button;
    return nullptr;
  }
  QTreeWidget* tree() const { return view->findChild<QTreeWidget*>("cacheTree"); }
  QString selectionText() const { return view->findChild<QLabel*>("selectionText")->text(); }
  QTreeWidgetItem* find(const QString& label) const {
    auto found = tree()->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.front() : nullptr;
  }
  bool actionsEnabled(bool refresh, bool remove, bool clear, bool reload) const {
    return button("Re&fresh")->isEnabled() == refresh && button("&Remove")->isEnabled() == remove &&
           button("&Clear All")->isEnabled() == clear && button("Re&load All")->isEnabled() == reload;
  }

  QWidget parent;
  CacheContentsView* view = nullptr;
};

uint32_t HitsOf(cache::CacheStore& cache, const std::string& key) {
  for (const auto& entry : cache.entries())
    if (entry.key == key) return entry.hits;
  return 0;
}

}  // namespace

class CacheContentsTest : public QObject {
  Q_OBJECT

 private slots:
  void emptyCachesOpenAnEmptyView() {
    test::UserServerFixture fixture;
    OpenView open(fixture.server());
    QVERIFY(open.view);
    QVERIFY(open.view->isVisible());
    QCOMPARE(open.view->windowTitle(), QString("Cache View - Empty"));
    QCOMPARE(open.tree()->topLevelItemCount(), 0);
    QVERIFY(open.actionsEnabled(false, false, false, false));
    QPointer<CacheContentsView> closing(open.view);
    QTest::mouseClick(open.button("&Done"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(closing.isNull(), 5000);
  }

  void entriesNestUnderTheDeepestPrefix() {
    test::UserServerFixture fixture;
    auto& files = fixture.server().fileCache();
    auto& listings = fixture.server().directoryCache();
    // The file comes first: the later listings adopt it.
    QVERIFY(files.add("/ftp/pub/a.zip", Bytes("zip"), cache::kFileTag));
    QVERIFY(files.add("/other/b.txt", Bytes("b"), cache::kFileTag));
    QVERIFY(listings.add("/ftp/", Bytes("listing"), cache::kListingTag));
    QVERIFY(listings.add("/ftp/pub/", Bytes("listing"), cache::kListingTag));
    OpenView open(fixture.server());
    QCOMPARE(open.view->windowTitle(), QString("Cache contents"));
    QVERIFY(open.actionsEnabled(false, false, true, true));

    QTreeWidgetItem* root = open.find("/ftp/");
    QTreeWidgetItem* pub = open.find("pub");
    QTreeWidgetItem* zip = open.find("a.zip");
    QVERIFY(root && pub && zip);
    QVERIFY(!root->parent());
    QCOMPARE(pub->parent(), root);
    QCOMPARE(zip->parent(), pub);
    QVERIFY(open.find("/other/b.txt") && !open.find("/other/b.txt")->parent());
    QCOMPARE(open.tree()->topLevelItemCount(), 2);
  }

  void fileUnderAListingIsLabelledByItsRest() {
    test::UserServerFixture fixture;
    QVERIFY(fixture.server().directoryCache().add("/ftp/", Bytes("l"), cache::kListingTag));
    QVERIFY(fixture.server().fileCache().add("/ftp/pub/a.zip", Bytes("z"), cache::kFileTag));
    OpenView open(fixture.server());
    QTreeWidgetItem* file = open.find("pub/a.zip");
    QVERIFY(file);
    QCOMPARE(file->parent(), open.find("/ftp/"));
  }

  void selectionShowsSizeAndHits() {
    test::UserServerFixture fixture;
    auto& files = fixture.server().fileCache();
    QVERIFY(files.add("/big.bin", Bytes(std::string(2097152, 'b')), cache::kFileTag));
    QVERIFY(files.add("/small.txt", Bytes(std::string(1536, 's')), cache::kFileTag));
    QVERIFY(files.lookup("/big.bin") && files.lookup("/big.bin"));
    OpenView open(fixture.server());
    QVERIFY(open.actionsEnabled(false, false, true, true));
    open.find("/big.bin")->setSelected(true);
    QCOMPARE(open.selectionText(), QString("2.00 mb\n Hits: 3"));
    QVERIFY(open.actionsEnabled(true, true, true, true));
    open.tree()->clearSelection();
    open.find("/small.txt")->setSelected(true);
    QCOMPARE(open.selectionText(), QString("1.50 kb\n Hits: 1"));
    QCOMPARE(console::CacheEntryText(1048575, 0), QString("1024.00 kb\n Hits: 0"));
    QCOMPARE(console::CacheEntryText(1048576, 7), QString("1.00 mb\n Hits: 7"));
  }

  void refreshedListingShowsANewFileInLaterReplies() {
    test::UserServerFixture fixture;
    fixture.ftpRoot().write("old.txt", "old\r\n");
    auto client = fixture.connectAnonymous();
    QVERIFY(client);
    QVERIFY(fixture.list(*client).value_or("").find("old.txt") != std::string::npos);
    fixture.ftpRoot().write("new.txt", "new\r\n");
    QVERIFY(fixture.list(*client).value_or("new.txt").find("new.txt") == std::string::npos);  // cached

    OpenView open(fixture.server());
    const std::string key = fixture.ftpRoot().dir();
    QTreeWidgetItem* listing = open.find(QString::fromStdString(key));
    QVERIFY(listing);
    uint32_t hits = HitsOf(fixture.server().directoryCache(), key);
    listing->setSelected(true);
    QTest::mouseClick(open.button("Re&fresh"), Qt::LeftButton);
    QCOMPARE(HitsOf(fixture.server().directoryCache(), key), hits + 1);
    QVERIFY(open.tree()->selectedItems().size() == 1);  // still selected, with the new numbers
    QVERIFY(open.selectionText().endsWith(QString(" Hits: %1").arg(hits + 1)));
    QVERIFY(fixture.list(*client).value_or("").find("new.txt") != std::string::npos);
  }

  void refreshingAFileReadsItAnewOrDropsItWhenGone() {
    test::UserServerFixture fixture;
    fixture.ftpRoot().write("a.txt", "first\r\n");
    auto client = fixture.connectAnonymous();
    QVERIFY(client);
    QCOMPARE(fixture.download(*client, "a.txt").value_or(""), std::string("first\r\n"));
    auto& files = fixture.server().fileCache();
    QCOMPARE(files.count(), 1u);
    const std::string key = files.entries().front().key;

    fixture.ftpRoot().write("a.txt", "second, longer\r\n");
    OpenView open(fixture.server());
    open.find(QString::fromStdString(key))->setSelected(true);
    QTest::mouseClick(open.button("Re&fresh"), Qt::LeftButton);
    QCOMPARE(files.used(), uint64_t{16});
    QCOMPARE(fixture.download(*client, "a.txt").value_or(""), std::string("second, longer\r\n"));

    // A file gone from the disk is not kept for serving.
    std::filesystem::remove(fixture.ftpRoot().path() / "a.txt");
    open.find(QString::fromStdString(key))->setSelected(true);
    QTest::mouseClick(open.button("Re&fresh"), Qt::LeftButton);
    QCOMPARE(files.count(), 0u);
    QCOMPARE(files.used(), uint64_t{0});
    QCOMPARE(open.view->windowTitle(), QString("Cache View - Empty"));
  }

  void removeDropsOnlyTheSelectedEntry() {
    test::UserServerFixture fixture;
    auto& files = fixture.server().fileCache();
    QVERIFY(files.add("/ftp/a.zip", Bytes("aa"), cache::kFileTag));
    QVERIFY(files.add("/ftp/a.zip.part", Bytes("bbb"), cache::kFileTag));
    OpenView open(fixture.server());
    open.find("/ftp/a.zip")->setSelected(true);
    QTest::mouseClick(open.button("&Remove"), Qt::LeftButton);
    QCOMPARE(files.count(), 1u);
    QCOMPARE(files.entries().front().key, std::string("/ftp/a.zip.part"));
    QVERIFY(!open.find("/ftp/a.zip") && open.find("/ftp/a.zip.part"));
    QVERIFY(open.actionsEnabled(false, false, true, true));
  }

  void reloadAllReadsEveryEntryAnew() {
    test::UserServerFixture fixture;
    fixture.ftpRoot().write("a.txt", "one\r\n");
    auto client = fixture.connectAnonymous();
    QVERIFY(client);
    QVERIFY(fixture.list(*client));
    QVERIFY(fixture.download(*client, "a.txt"));
    fixture.ftpRoot().write("a.txt", "three\r\n");
    fixture.ftpRoot().write("b.txt", "b\r\n");
    OpenView open(fixture.server());
    QTest::mouseClick(open.button("Re&load All"), Qt::LeftButton);
    QCOMPARE(fixture.download(*client, "a.txt").value_or(""), std::string("three\r\n"));
    QVERIFY(fixture.list(*client).value_or("").find("b.txt") != std::string::npos);
    auto& listings = fixture.server().directoryCache();
    QCOMPARE(listings.used(), listings.entries().front().size);  // the total follows the new sizes
  }

  void clearAllEmptiesBothCachesAndTheView() {
    test::UserServerFixture fixture;
    QVERIFY(fixture.server().directoryCache().add("/ftp/", Bytes("l"), cache::kListingTag));
    QVERIFY(fixture.server().fileCache().add("/ftp/x", Bytes("x"), cache::kFileTag));
    OpenView open(fixture.server());
    open.find("x")->setSelected(true);
    QTest::mouseClick(open.button("&Clear All"), Qt::LeftButton);
    QCOMPARE(fixture.server().directoryCache().count() + fixture.server().fileCache().count(), 0u);
    QCOMPARE(open.tree()->topLevelItemCount(), 0);
    QCOMPARE(open.view->windowTitle(), QString("Cache View - Empty"));
    QVERIFY(open.selectionText().isEmpty());
    QVERIFY(open.actionsEnabled(false, false, false, false));
    open.view->fill();  // filling again finds nothing either
    QCOMPARE(open.tree()->topLevelItemCount(), 0);
  }
};

QTEST_MAIN(CacheContentsTest)
#include "cache_contents_test.moc"
