// talvek-ftp: the operator console. Shows the main window over a server
// that listens only when the operator starts it, "/s" is given or the
// "Auto Start On" setting says so; saves the settings when it ends.
#include <csignal>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include "app/daemon_cli.h"
#include "console/address_choice_dialog.h"
#include "console/main_window.h"
#include "console/qt_operator_view.h"
#include "platform/system_info.h"
#include "server/server.h"
#include "settings/registry_store.h"
#include "settings/settings.h"

namespace talvek::app {

namespace {

constexpr int kUsageError = 2;

// SIGTERM (session logout) and SIGINT end the console like "Exit", so the
// settings are still saved: the handler only writes a byte the event loop reads.
int g_stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(g_stop_pipe[1], &byte, 1);
}

std::unique_ptr<QSocketNotifier> WatchStopSignals(console::MainWindow& window) {
  if (::pipe(g_stop_pipe) != 0) return nullptr;
  auto notifier = std::make_unique<QSocketNotifier>(g_stop_pipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window] {
    char byte = 0;
    [[maybe_unused]] ssize_t got = ::read(g_stop_pipe[0], &byte, 1);
    window.exitProgram();
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  return notifier;
}

void ReportSaveFailure(const settings::RegistryStore& store, int error) {
  std::cerr << "talvek-ftp: cannot save " << store.file() << ": " << std::strerror(error) << "\n";
  QMessageBox::critical(nullptr, QStringLiteral("Talvek FTP"),
                        QStringLiteral("The settings could not be saved to %1:\n%2")
                            .arg(QString::fromStdString(store.file().string()), QString::fromLocal8Bit(std::strerror(error))));
}

int RunConsole(QApplication& app, const DaemonOptions& options, settings::RegistryStore& store,
               const std::filesystem::path& program_directory) {
  // What the file held at start: at exit only the console's own changes
  // are written over the file as it is then.
  const settings::RegistryStore base = settings::NormalisedCopy(store);
  console::QtOperatorView view;
  server::Server server(view.operatorView());
  // Creating the window runs the first-start import, before the settings are read.
  console::MainWindow window(server, view, store, program_directory);
  if (auto error = ApplyStartOptions(options, store); !error.empty()) {
    std::cerr << "talvek-ftp: " << error << "\n";
    return kUsageError;
  }
  window.show();

  settings::Settings loaded;
  settings::LoadSettings(store, loaded);
  server::ServerEnvironment environment;
  environment.program_directory = program_directory;
  environment.program_name = platform::ExecutableName();
  environment.auto_start_switch = options.auto_start;
  environment.background_switch = options.background;
  environment.default_ip = settings::ReadDefaultIp(store);
  // Several addresses and no default: the operator picks one.
  environment.choose_address = console::MakeAddressChooser(store, &window);
  environment.front_end_timers = true;  // the window's timers 110, 111 and 113
  server.initialise(loaded, environment);
  window.serverInitialised(options.background);
  if (loaded.ftpRootDir.empty())
    QMessageBox::information(&window, QStringLiteral("Talvek FTP"),
                             QStringLiteral("No FTP root directory is set yet. Choose one with Configure... "
                                            "before clients log on."));

  // Hidden to the tray the window is no longer "last"; only a real close ends.
  app.setQuitOnLastWindowClosed(false);
  QObject::connect(&window, &console::MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  auto stop_signals = WatchStopSignals(window);
  int result = app.exec();

  server.shutdown();
  settings::SaveSettings(store, server.settings());
  if (int error = settings::SaveChangesOverDisk(base, store)) {
    ReportSaveFailure(store, error);
    return result == 0 ? 1 : result;
  }
  return result;
}

}  // namespace

int Main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("Talvek FTP"));
  QApplication::setOrganizationName(QStringLiteral("Talvek"));
  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toLocal8Bit().toStdString());
  auto parsed = ParseDaemonArguments(args);
  if (!parsed.options) {
    std::cerr << "talvek-ftp: " << parsed.error << "\n" << UsageText();
    return kUsageError;
  }
  const DaemonOptions& options = *parsed.options;
  if (options.help) {
    std::cout << UsageText();
    return 0;
  }
  if (!options.subcommand.empty()) {
    std::cerr << "talvek-ftp: '" << options.subcommand << "' is a command of talvek-ftpd\n";
    return kUsageError;
  }
  settings::RegistryStore store(ResolveSettingsFile(options));
  if (!store.load()) {
    std::cerr << "talvek-ftp: cannot read " << store.file() << "\n";
    return 1;
  }
  return RunConsole(app, options, store, ResolveProgramDirectory(options));
}

}  // namespace talvek::app

int main(int argc, char** argv) { return talvek::app::Main(argc, argv); }
