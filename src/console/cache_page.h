// The "Cache" page: sizes, auto refresh and periods of the file cache and
// the directory-listing cache, and the overflow adjustment.
#pragma once

#include <QWidget>

#include "settings/settings.h"

class QCheckBox;
class QLineEdit;

namespace talvek::console {

class DialogPrompts;

class CachePage : public QWidget {
  Q_OBJECT
 public:
  CachePage(DialogPrompts& prompts, QWidget* parent);
  void load(const settings::CacheSettings& cache);
  // False, with the range message shown, while a field is out of range
  // (the sizes and periods are unsigned 32-bit, the adjustment 0 to 100).
  bool validate();
  void store(settings::CacheSettings& cache) const;

 private:
  bool check(QLineEdit* field, uint32_t high);

  DialogPrompts& prompts_;
  QCheckBox* cache_files_;
  QLineEdit* file_size_;
  QCheckBox* refresh_files_;
  QLineEdit* file_period_;
  QCheckBox* cache_dirs_;
  QLineEdit* dir_size_;
  QCheckBox* refresh_dirs_;
  QLineEdit* dir_period_;
  QLineEdit* overflow_;
};

}  // namespace talvek::console
