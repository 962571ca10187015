#include "console/cache_page.h"

#include <limits>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "console/dialog_prompts.h"
#include "console/page_fields.h"

namespace talvek::console {

namespace {
constexpr uint32_t kMaxUnsigned = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kMaxOverflowPercent = 100;

QLineEdit* Number(QWidget* parent, const char* name) {
  QLineEdit* field = MakeNumberField(parent);
  field->setObjectName(QLatin1String(name));
  return field;
}

QCheckBox* Check(const QString& text, QWidget* parent, const char* name) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

// A period follows its auto-refresh box, which is only usable while its
// cache is on.
void FollowRefresh(QCheckBox* cache, QCheckBox* refresh, QWidget* label, QWidget* field) {
  auto apply = [=] {
    bool on = cache->isChecked() && refresh->isChecked();
    label->setEnabled(on);
    field->setEnabled(on);
  };
  apply();
  QObject::connect(cache, &QCheckBox::toggled, field, apply);
  QObject::connect(refresh, &QCheckBox::toggled, field, apply);
}
}  // namespace

CachePage::CachePage(DialogPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      cache_files_(Check(QStringLiteral("Cache files"), this, "cacheFilesCheck")),
      file_size_(Number(this, "fileCacheSizeEdit")),
      refresh_files_(Check(QStringLiteral("Auto Refresh File Cache"), this, "refreshFilesCheck")),
      file_period_(Number(this, "filePeriodEdit")),
      cache_dirs_(Check(QStringLiteral("Cache directory listings"), this, "cacheDirsCheck")),
      dir_size_(Number(this, "dirCacheSizeEdit")),
      refresh_dirs_(Check(QStringLiteral("Auto Refresh Dir Cache"), this, "refreshDirsCheck")),
      dir_period_(Number(this, "dirPeriodEdit")),
      overflow_(Number(this, "overflowEdit")) {
  auto* group = new QGroupBox(QStringLiteral("Cache"), this);
  auto* grid = new QGridLayout(group);
  auto* file_size_label = new QLabel(QStringLiteral("Cache Size (KB):"), group);
  auto* file_period_label = new QLabel(QStringLiteral("Period (Min.):"), group);
  auto* dir_size_label = new QLabel(QStringLiteral("Cache Size (KB):"), group);
  auto* dir_period_label = new QLabel(QStringLiteral("Period (Min.):"), group);
  grid->addWidget(cache_files_, 0, 0);
  grid->addWidget(file_size_label, 0, 1);
  grid->addWidget(file_size_, 0, 2);
  grid->addWidget(refresh_files_, 1, 0);
  grid->addWidget(file_period_label, 1, 1);
  grid->addWidget(file_period_, 1, 2);
  grid->addWidget(cache_dirs_, 2, 0);
  grid->addWidget(dir_size_label, 2, 1);
  grid->addWidget(dir_size_, 2, 2);
  grid->addWidget(refresh_dirs_, 3, 0);
  grid->addWidget(dir_period_label, 3, 1);
  grid->addWidget(dir_period_, 3, 2);
  grid->addWidget(new QLabel(QStringLiteral("Overflow Adjustment (%) :"), group), 4, 0, 1, 2);
  grid->addWidget(overflow_, 4, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addStretch(1);

  FollowCheckBox(cache_files_, {file_size_label, file_size_, refresh_files_});
  FollowCheckBox(cache_dirs_, {dir_size_label, dir_size_, refresh_dirs_});
  FollowRefresh(cache_files_, refresh_files_, file_period_label, file_period_);
  FollowRefresh(cache_dirs_, refresh_dirs_, dir_period_label, dir_period_);
}

void CachePage::load(const settings::CacheSettings& cache) {
  cache_files_->setChecked(cache.cacheFiles != 0);
  SetNumber(file_size_, cache.fileCacheKB);
  refresh_files_->setChecked(cache.autoRefreshFiles != 0);
  SetNumber(file_period_, cache.fileRefreshMinutes);
  cache_dirs_->setChecked(cache.cacheDirs != 0);
  SetNumber(dir_size_, cache.dirCacheKB);
  refresh_dirs_->setChecked(cache.autoRefreshDirs != 0);
  SetNumber(dir_period_, cache.dirRefreshMinutes);
  SetNumber(overflow_, cache.overflowPercent);
}

bool CachePage::check(QLineEdit* field, uint32_t high) {
  if (NumberIn(field, 0, high)) return true;
  prompts_.inform(this, RangeMessage(0, high), kConsoleCaption, QMessageBox::Warning);
  field->setFocus();
  field->selectAll();
  return false;
}

bool CachePage::validate() {
  return check(file_size_, kMaxUnsigned) && check(file_period_, kMaxUnsigned) && check(dir_size_, kMaxUnsigned) &&
         check(dir_period_, kMaxUnsigned) && check(overflow_, kMaxOverflowPercent);
}

void CachePage::store(settings::CacheSettings& cache) const {
  cache.cacheFiles = cache_files_->isChecked() ? 1 : 0;
  cache.fileCacheKB = NumberIn(file_size_, 0, kMaxUnsigned).value_or(0);
  cache.autoRefreshFiles = refresh_files_->isChecked() ? 1 : 0;
  cache.fileRefreshMinutes = NumberIn(file_period_, 0, kMaxUnsigned).value_or(0);
  cache.cacheDirs = cache_dirs_->isChecked() ? 1 : 0;
  cache.dirCacheKB = NumberIn(dir_size_, 0, kMaxUnsigned).value_or(0);
  cache.autoRefreshDirs = refresh_dirs_->isChecked() ? 1 : 0;
  cache.dirRefreshMinutes = NumberIn(dir_period_, 0, kMaxUnsigned).value_or(0);
  cache.overflowPercent = NumberIn(overflow_, 0, kMaxOverflowPercent).value_or(0);
}

}  // namespace talvek::console
