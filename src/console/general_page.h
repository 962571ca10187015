// The "General" page: connection limits, idle time-out, the IP filter
// switch and mode, monitoring defaults and start-up switches.
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
  void load(const settings::GeneralSettings& general);
  // A zero time-out, maximum or per-user count is stored as 60, 1000 and 3.
  void store(settings::GeneralSettings& general) const;

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
  QCheckBox* monitor_;
  QCheckBox* record_lists_;
  QCheckBox* auto_start_;
  QCheckBox* background_;
};

}  // namespace talvek::console
