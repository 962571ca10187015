#include "console/configure_dialog.h"

#include <cstring>

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/anonymous_page.h"
#include "console/cache_page.h"
#include "console/dialog_prompts.h"
#include "console/general_page.h"
#include "console/page_fields.h"
#include "console/paths_page.h"
#include "console/tls_page.h"
#include "server/server.h"
#include "server/tls_setup.h"
#include "tls/tls_context.h"

namespace talvek::console {

namespace {
constexpr uint32_t kStandardPort = 21;
const QString kRestartText = QStringLiteral(
    "You must exit and restart Talvek FTP before changes to the default IP address will take effect.");
const QString kRestartCaption = QStringLiteral("IP Address Change");
}  // namespace

ConfigureDialog::ConfigureDialog(const settings::Settings& settings, const NetworkIdentity& identity,
                                 DialogPrompts& prompts, QWidget* parent)
    : QDialog(parent),
      tabs_(new QTabWidget(this)),
      paths_(new PathsPage(prompts, tabs_)),
      anonymous_(new AnonymousPage(prompts, tabs_)),
      general_(new GeneralPage(tabs_)),
      cache_(new CachePage(prompts, tabs_)),
      advanced_(new AdvancedPage(prompts, tabs_)),
      tls_(new TlsPage(prompts, tabs_)) {
  setWindowTitle(QStringLiteral("Configure Server"));
  tabs_->addTab(paths_, QStringLiteral("Paths"));
  tabs_->addTab(anonymous_, QStringLiteral("Anonymous FTP"));
  tabs_->addTab(general_, QStringLiteral("General"));
  tabs_->addTab(cache_, QStringLiteral("Cache"));
  tabs_->addTab(advanced_, QStringLiteral("Advanced"));
  tabs_->addTab(tls_, QStringLiteral("TLS"));
  paths_->load(settings);
  anonymous_->load(settings);
  general_->load(settings);
  cache_->load(settings.cache);
  // The page shows the address in use, whatever the block holds.
  settings::NetSettings net = settings.net;
  net.setAddressText(identity.server_address);
  advanced_->load(net, identity);
  advanced_->loadNetwork(settings.network);
  tls_->load(settings.tls, identity.tls_fingerprint);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigureDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigureDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
}

void ConfigureDialog::accept() {
  if (!anonymous_->validate()) {
    tabs_->setCurrentWidget(anonymous_);
    return;
  }
  if (!cache_->validate()) {
    tabs_->setCurrentWidget(cache_);
    return;
  }
  if (!advanced_->validate()) {
    tabs_->setCurrentWidget(advanced_);
    return;
  }
  if (!tls_->validate()) {
    tabs_->setCurrentWidget(tls_);
    return;
  }
  QDialog::accept();
}

void ConfigureDialog::storeInto(settings::Settings& settings) const {
  paths_->store(settings);
  anonymous_->store(settings);
  general_->store(settings);
  cache_->store(settings.cache);
  advanced_->store(settings.net);
  advanced_->storeNetwork(settings.network);
  tls_->store(settings.tls);
}

ConfigureFlow::ConfigureFlow(server::Server& server, settings::RegistryStore& store, DialogPrompts& prompts)
    : server_(server), store_(store), prompts_(prompts) {}

std::unique_ptr<ConfigureDialog> ConfigureFlow::makeDialog(QWidget* parent) const {
  NetworkIdentity identity;
  identity.local_addresses = server_.localAddresses();
  identity.server_address = server_.serverAddress();
  identity.default_ip_set = !settings::ReadDefaultIp(store_).empty();
  if (auto tls = server_.tlsContext()) identity.tls_fingerprint = tls->fingerprint();
  return std::make_unique<ConfigureDialog>(server_.settings(), identity, prompts_, parent);
}

void ConfigureFlow::applyAccepted(const ConfigureDialog& dialog) {
  QWidget* parent = dialog.parentWidget();
  settings::TlsSettings old_tls = server_.settings().tls;
  server_.updateSettings([&](settings::Settings& settings) {
    dialog.storeInto(settings);
    // The stored port counts only while "Always use this port" is set.
    if (!settings.net.alwaysUsePort) settings.net.port = kStandardPort;
  });
  settings::Settings current = server_.settings();
  server_.applyCacheSettings();
  if (server::TlsCertificateChanged(old_tls, current.tls)) server_.setUpTls(current.tls);
  // The idle timer lives on the control thread's event loop. Handed over
  // without waiting (a busy control thread must not hold up the window), so
  // the work holds only the server, which outlives every flow.
  server_.post([&server = server_] { server.armIdleTimer(); });
  applyLogFile(current, parent);

  std::string address = current.net.addressText();
  settings::WriteDefaultIp(store_, current.net.useAsDefault ? address : std::string());
  if (address != server_.serverAddress())
    prompts_.inform(parent, kRestartText, kRestartCaption, QMessageBox::Information);
  if (!current.anonymous.allow)
    server_.post([&server = server_] { server.disconnectAnonymousUsers(); });
  saveStore(current, parent);
}

void ConfigureFlow::applyLogFile(const settings::Settings& current, QWidget* parent) {
  log::LogThread& log = server_.logThread();
  log.close();
  if (!current.enableLog || current.logPath.empty()) return;
  if (int error = log.open(current.logPath))
    prompts_.inform(parent,
                    QStringLiteral("Cannot open the log file %1: %2")
                        .arg(ToQString(current.logPath), QString::fromLocal8Bit(std::strerror(error))),
                    kConsoleCaption, QMessageBox::Warning);
}

void ConfigureFlow::saveStore(const settings::Settings& current, QWidget* parent) {
  // Only what this dialog changed goes over the file: edits made meanwhile
  // by the command line stay. A failed save is said now, not lost at exit.
  if (int error = settings::SaveChangeOverDisk(store_, [&](settings::RegistryStore& store) {
        settings::SaveSettings(store, current);
      }))
    prompts_.inform(parent,
                    QStringLiteral("Cannot save the settings to %1: %2")
                        .arg(QString::fromStdString(store_.file().string()),
                             QString::fromLocal8Bit(std::strerror(error))),
                    kConsoleCaption, QMessageBox::Warning);
}

bool ConfigureFlow::run(QWidget* parent) {
  std::unique_ptr<ConfigureDialog> dialog = makeDialog(parent);
  if (dialog->exec() != QDialog::Accepted) return false;
  applyAccepted(*dialog);
  return true;
}

bool RunConfigureFlow(server::Server& server, settings::RegistryStore& store, QWidget* parent) {
  return ConfigureFlow(server, store, DefaultPrompts()).run(parent);
}

}  // namespace talvek::console
