// talvek-ftp: the operator console. Shows the main window over a server
// that listens only when the operator starts it, "/s" is given or the
// "Auto Start On" setting says so; saves the settings when it ends.
#include <cstring>
#include <iostream>

#include <QApplication>
#include <QMessageBox>

#include "app/daemon_cli.h"
#include "app/data_directory.h"
#include "console/address_choice_dialog.h"
#include "console/main_window.h"
#include "console/qt_operator_view.h"
#include "console/process_guards.h"
#include "platform/system_info.h"
#include "server/server.h"
#include "settings/registry_store.h"
#include "settings/settings.h"

namespace talvek::app {

namespace {

constexpr int kUsageError = 2;

void ReportSaveFailure(const settings::RegistryStore& store, int error) {
  std::cerr << "talvek-ftp: cannot save " << store.file() << ": " << std::strerror(error) << "\n";
  QMessageBox::critical(nullptr, QStringLiteral("Talvek FTP"),
                        QStringLiteral("The settings could not be saved to %1:\n%2")
                            .arg(QString::fromStdString(store.file().string()), QString::fromLocal8Bit(std::strerror(error))));
}

int RunConsole(QApplication& app, const DaemonOptions& options, settings::RegistryStore& store,
               const ProgramDirectories& directories) {
  // First: SIGTERM (session logout) or SIGINT during any start-up step still
  // saves and shuts down; start-up asks the operator nothing after it.
  console::StopSignals stop_signals;
  // What the file held at start: at exit only the console's own changes
  // are written over the file as it is then.
  const settings::RegistryStore base = settings::NormalisedCopy(store);
  console::QtOperatorView view;
  server::Server server(view.operatorView());
  // Creating the window runs the first-start import, before the settings are read.
  console::MainWindow window(server, view, store, directories.data);
  if (auto error = ApplyStartOptions(options, store); !error.empty()) {
    std::cerr << "talvek-ftp: " << error << "\n";
    return kUsageError;
  }
  window.show();

  settings::Settings loaded;
  settings::LoadSettings(store, loaded);
  server::ServerEnvironment environment;
  environment.program_directory = directories.data;
  environment.filters_directory = directories.writable;
  environment.settings_directory = store.file().parent_path();
  environment.program_name = platform::ExecutableName();
  environment.auto_start_switch = options.auto_start;
  environment.background_switch = options.background;
  environment.default_ip = settings::ReadDefaultIp(store);
  // Several addresses and no default: the operator picks one.
  environment.choose_address = [&stop_signals, choose = console::MakeAddressChooser(store, &window)](
                                   const std::vector<std::string>& addresses) {
    return stop_signals.requested() ? std::string() : choose(addresses);
  };
  server.initialise(loaded, environment);
  window.serverInitialised(options.background);
  if (loaded.ftpRootDir.empty() && !stop_signals.requested())
    QMessageBox::information(&window, QStringLiteral("Talvek FTP"),
                             QStringLiteral("No FTP root directory is set yet. Choose one with Configure... "
                                            "before clients log on."));

  // Hidden to the tray the window is no longer "last"; only a real close ends.
  app.setQuitOnLastWindowClosed(false);
  QObject::connect(&window, &console::MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  QObject::connect(&stop_signals, &console::StopSignals::stopRequested, &window, &console::MainWindow::exitProgram);
  int result = 0;
  if (stop_signals.requested())
    window.exitProgram();  // stores the window placement; no event loop is needed
  else
    result = app.exec();

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
  // Answered before the toolkit wants a display.
  if (auto status = AnswerBeforeStart(Program::kConsole, {argv + 1, argv + argc})) return *status;
  console::ConsoleApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("Talvek FTP"));
  QApplication::setOrganizationName(QStringLiteral("Talvek"));
  QApplication::setDesktopFileName(QStringLiteral("org.talvek.TalvekFtp"));  // the menu entry's icon and name
  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1)) args.push_back(arg.toLocal8Bit().toStdString());
  auto parsed = ParseDaemonArguments(args);
  if (!parsed.options) {
    std::cerr << "talvek-ftp: " << parsed.error << "\n" << UsageText(Program::kConsole);
    return kUsageError;
  }
  const DaemonOptions& options = *parsed.options;
  if (!options.subcommand.empty()) {
    std::cerr << "talvek-ftp: '" << options.subcommand << "' is a command of talvek-ftpd\n";
    return kUsageError;
  }
  settings::RegistryStore store(ResolveSettingsFile(options));
  if (!store.load()) {
    std::cerr << "talvek-ftp: cannot read " << store.file() << "\n";
    return 1;
  }
  return RunConsole(app, options, store, ResolveProgramDirectories(options.program_directory, store.file()));
}

}  // namespace talvek::app

int main(int argc, char** argv) { return talvek::app::Main(argc, argv); }
