// The "General" page: connection limits, idle time-out, the IP filter
// switch and mode, the failed-login throttle, monitoring defaults and
// start-up switches.
#pragma once

#include <QWidget>

#include "settings/settings.h"

class QCheckBox;
class QRadioButton;
class QSpinBox;

namespace talvek::console {

class GeneralPage : public QWidget {
  Q_OBJECT
 public:
  explicit GeneralPage(QWidget* parent);
  void load(const settings::Settings& settings);
  // A zero time-out, maximum or per-user count is stored as 60, 1000 and 3;
  // with banning unchecked the ban count is stored as 0.
  void store(settings::Settings& settings) const;

 private:
  QSpinBox* max_total_;
  QCheckBox* timeout_;
  QSpinBox* timeout_minutes_;
  QCheckBox* limit_per_user_;
  QSpinBox* per_user_;
  QRadioButton* refuse_new_;
  QRadioButton* close_oldest_;
  QCheckBox* filtering_;
  QRadioButton* allow_listed_;
  QRadioButton* block_listed_;
  QSpinBox* fail_delay_;
  QCheckBox* ban_;
  QSpinBox* ban_failures_;
  QSpinBox* ban_window_;
  QSpinBox* ban_minutes_;
  QCheckBox* monitor_;
  QCheckBox* record_lists_;
  QCheckBox* auto_start_;
  QCheckBox* background_;
};

}  // namespace talvek::console
