#include "console/general_page.h"

#include <algorithm>
#include <limits>

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "console/page_fields.h"

namespace talvek::console {

namespace {
constexpr uint32_t kDefaultTimeoutMinutes = 60, kDefaultMaxConnections = 1000, kDefaultPerUser = 3;

QSpinBox* MakeSpin(QWidget* parent, const char* name, int low = 0, int high = std::numeric_limits<int>::max()) {
  auto* spin = new QSpinBox(parent);
  spin->setRange(low, high);
  spin->setObjectName(QLatin1String(name));
  return spin;
}

int SpinValue(uint32_t value) {
  return static_cast<int>(std::min<uint32_t>(value, std::numeric_limits<int>::max()));
}

uint32_t OrDefault(int value, uint32_t fallback) { return value == 0 ? fallback : static_cast<uint32_t>(value); }
}  // namespace

GeneralPage::GeneralPage(QWidget* parent)
    : QWidget(parent),
      max_total_(MakeSpin(this, "maxTotalSpin")),
      timeout_(Named(new QCheckBox(QStringLiteral("Time-out idle connections"), this), "timeoutCheck")),
      timeout_minutes_(MakeSpin(this, "timeoutSpin")),
      limit_per_user_(Named(new QCheckBox(QStringLiteral("Limit connections per user"), this), "limitPerUserCheck")),
      per_user_(MakeSpin(this, "perUserSpin")),
      refuse_new_(Named(new QRadioButton(QStringLiteral("Refuse new conenction"), this), "refuseNewRadio")),
      close_oldest_(Named(new QRadioButton(QStringLiteral("Close oldest connection"), this), "closeOldestRadio")),
      filtering_(Named(new QCheckBox(QStringLiteral("Enable IP address filtering"), this), "filteringCheck")),
      allow_listed_(
          Named(new QRadioButton(QStringLiteral("Allow only listed addresses "), this), "allowListedRadio")),
      block_listed_(Named(new QRadioButton(QStringLiteral("Block listed addresses"), this), "blockListedRadio")),
      fail_delay_(MakeSpin(this, "failDelaySpin", 0, 60)),
      ban_(Named(new QCheckBox(QStringLiteral("Ban an address after repeated failed logins"), this), "banCheck")),
      ban_failures_(MakeSpin(this, "banFailuresSpin", 1, 1000)),
      ban_window_(MakeSpin(this, "banWindowSpin", 1, 10080)),
      ban_minutes_(MakeSpin(this, "banMinutesSpin", 1, 10080)),
      monitor_(Named(new QCheckBox(QStringLiteral("Monitor On by &default"), this), "monitorCheck")),
      record_lists_(
          Named(new QCheckBox(QStringLiteral("Record file lists On by default"), this), "recordListsCheck")),
      auto_start_(Named(new QCheckBox(QStringLiteral("Auto Start On"), this), "autoStartCheck")),
      background_(Named(new QCheckBox(QStringLiteral("Run in background on close"), this), "backgroundCheck")) {
  // Two exclusive pairs on one page: each pair needs its own group.
  auto* policy = new QButtonGroup(this);
  policy->addButton(refuse_new_);
  policy->addButton(close_oldest_);
  auto* mode = new QButtonGroup(this);
  mode->addButton(allow_listed_);
  mode->addButton(block_listed_);

  auto* limits = new QGroupBox(QStringLiteral("Access Limits"), this);
  auto* grid = new QGridLayout(limits);
  auto* timeout_label = new QLabel(QStringLiteral("Timout (minutes):"), limits);
  auto* per_user_label = new QLabel(QStringLiteral("Connections per user:"), limits);
  auto* exceeded_label = new QLabel(QStringLiteral("When user limit exceeded:"), limits);
  auto* note = new QLabel(QStringLiteral("(Server menu -> Filtering to edit)"), limits);
  grid->addWidget(new QLabel(QStringLiteral("Max total connections:"), limits), 0, 0);
  grid->addWidget(max_total_, 0, 1);
  grid->addWidget(timeout_, 1, 0, 1, 2);
  grid->addWidget(timeout_label, 2, 0);
  grid->addWidget(timeout_minutes_, 2, 1);
  grid->addWidget(limit_per_user_, 3, 0, 1, 2);
  grid->addWidget(per_user_label, 4, 0);
  grid->addWidget(per_user_, 4, 1);
  grid->addWidget(exceeded_label, 5, 0, 1, 2);
  grid->addWidget(refuse_new_, 6, 0);
  grid->addWidget(close_oldest_, 6, 1);
  grid->addWidget(filtering_, 7, 0, 1, 2);
  grid->addWidget(allow_listed_, 8, 0);
  grid->addWidget(block_listed_, 8, 1);
  grid->addWidget(note, 9, 0, 1, 2);

  auto* logins = new QGroupBox(QStringLiteral("Failed Logins"), this);
  auto* logins_grid = new QGridLayout(logins);
  auto* failures_label = new QLabel(QStringLiteral("Failed logins before a ban:"), logins);
  auto* window_label = new QLabel(QStringLiteral("Counted over (minutes):"), logins);
  auto* ban_label = new QLabel(QStringLiteral("Ban lasts (minutes):"), logins);
  logins_grid->addWidget(new QLabel(QStringLiteral("Delay after a failed password (seconds):"), logins), 0, 0);
  logins_grid->addWidget(fail_delay_, 0, 1);
  logins_grid->addWidget(ban_, 1, 0, 1, 2);
  logins_grid->addWidget(failures_label, 2, 0);
  logins_grid->addWidget(ban_failures_, 2, 1);
  logins_grid->addWidget(window_label, 3, 0);
  logins_grid->addWidget(ban_window_, 3, 1);
  logins_grid->addWidget(ban_label, 4, 0);
  logins_grid->addWidget(ban_minutes_, 4, 1);

  auto* monitoring = new QGroupBox(QStringLiteral("Monitoring"), this);
  auto* monitoring_layout = new QVBoxLayout(monitoring);
  monitoring_layout->addWidget(monitor_);
  monitoring_layout->addWidget(record_lists_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(limits);
  layout->addWidget(logins);
  layout->addWidget(monitoring);
  layout->addWidget(auto_start_);
  layout->addWidget(background_);
  layout->addStretch(1);

  FollowCheckBox(timeout_, {timeout_label, timeout_minutes_});
  FollowCheckBox(limit_per_user_, {per_user_label, per_user_, exceeded_label, refuse_new_, close_oldest_});
  FollowCheckBox(filtering_, {allow_listed_, block_listed_, note});
  FollowCheckBox(ban_, {failures_label, ban_failures_, window_label, ban_window_, ban_label, ban_minutes_});
}

void GeneralPage::load(const settings::Settings& settings) {
  const auto& general = settings.general;
  const auto& throttle = settings.loginThrottle;
  fail_delay_->setValue(SpinValue(throttle.failDelaySeconds));
  ban_->setChecked(throttle.banFailures != 0);
  // Unchecked, the count field offers a usual value to start from.
  ban_failures_->setValue(SpinValue(throttle.banFailures != 0 ? throttle.banFailures : 5));
  ban_window_->setValue(SpinValue(throttle.banWindowMinutes));
  ban_minutes_->setValue(SpinValue(throttle.banMinutes));
  max_total_->setValue(SpinValue(general.maxConnections));
  timeout_->setChecked(general.timeoutIdle != 0);
  timeout_minutes_->setValue(SpinValue(general.timeoutMinutes));
  limit_per_user_->setChecked(general.limitPerAddress != 0);
  per_user_->setValue(SpinValue(general.connectionsPerAddress));
  (general.refuseNew != 0 ? refuse_new_ : close_oldest_)->setChecked(true);
  filtering_->setChecked(general.filterEnabled != 0);
  (general.blockListed != 0 ? block_listed_ : allow_listed_)->setChecked(true);
  monitor_->setChecked(general.monitorNew != 0);
  record_lists_->setChecked(general.recordFileLists != 0);
  auto_start_->setChecked(general.autoStart != 0);
  background_->setChecked(general.runInBackground != 0);
}

void GeneralPage::store(settings::Settings& settings) const {
  auto& throttle = settings.loginThrottle;
  throttle.failDelaySeconds = static_cast<uint32_t>(fail_delay_->value());
  throttle.banFailures = ban_->isChecked() ? static_cast<uint32_t>(ban_failures_->value()) : 0;
  throttle.banWindowMinutes = static_cast<uint32_t>(ban_window_->value());
  throttle.banMinutes = static_cast<uint32_t>(ban_minutes_->value());
  auto& general = settings.general;
  general.maxConnections = OrDefault(max_total_->value(), kDefaultMaxConnections);
  general.timeoutIdle = timeout_->isChecked() ? 1 : 0;
  general.timeoutMinutes = OrDefault(timeout_minutes_->value(), kDefaultTimeoutMinutes);
  general.limitPerAddress = limit_per_user_->isChecked() ? 1 : 0;
  general.connectionsPerAddress = OrDefault(per_user_->value(), kDefaultPerUser);
  general.refuseNew = close_oldest_->isChecked() ? 0 : 1;
  general.filterEnabled = filtering_->isChecked() ? 1 : 0;
  general.blockListed = allow_listed_->isChecked() ? 0 : 1;
  general.monitorNew = monitor_->isChecked() ? 1 : 0;
  general.recordFileLists = record_lists_->isChecked() ? 1 : 0;
  general.autoStart = auto_start_->isChecked() ? 1 : 0;
  general.runInBackground = background_->isChecked() ? 1 : 0;
}

}  // namespace talvek::console
