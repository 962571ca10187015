// talvek-ftpd: the headless daemon. Runs the server from the settings file
// until SIGTERM or SIGINT, or runs one operator subcommand and exits.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <pthread.h>

#include "app/daemon_cli.h"
#include "accounts/accounts_command.h"
#include "app/daemon_reload.h"
#include "app/daemon_view.h"
#include "app/data_directory.h"
#include "app/service_notify.h"
#include "app/pid_file.h"
#include "filter/filter_command.h"
#include "filter/filter_file.h"
#include "platform/atomic_file.h"
#include "platform/system_info.h"
#include "server/server.h"
#include "settings/config_command.h"
#include "settings/defaults_import.h"
#include "settings/registry_store.h"
#include "settings/settings.h"
#include "transfer/statistics.h"

namespace talvek::app {

namespace {

constexpr int kUsageError = 2;

int SaveStore(const settings::RegistryStore& store) {
  if (int error = store.save()) {
    std::cerr << "talvek-ftpd: cannot save " << store.file() << ": " << std::strerror(error) << "\n";
    return 1;
  }
  return 0;
}

// Blocks the stop and reload signals in every thread; the main thread
// takes them with sigwait.
sigset_t BlockControlSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return signals;
}

int RunServer(const DaemonOptions& options, settings::RegistryStore& store, const ProgramDirectories& directories,
              std::unique_ptr<platform::FileEditLock> lock) {
  if (auto error = ApplyStartOptions(options, store); !error.empty()) {
    std::cerr << "talvek-ftpd: " << error << "\n";
    return kUsageError;
  }
  settings::Settings loaded;
  settings::LoadSettings(store, loaded);
  if (loaded.ftpRootDir.empty()) {
    std::cerr << "talvek-ftpd: no FTP root directory is set; start with --root DIR "
                 "(or: talvek-ftpd config set FTPRootDir DIR)\n";
    return kUsageError;
  }
  if (int status = SaveStore(store)) return status;
  lock.reset();  // operator tools may change the file while the daemon runs
  DaemonSettings daemon_settings(store, options);

  sigset_t signals = BlockControlSignals();
  PidFile pid_file(store.file());
  if (pid_file.error())
    std::cerr << "talvek-ftpd: cannot write " << PidFilePath(store.file()) << ": " << std::strerror(pid_file.error())
              << "; 'talvek-ftpd reload' will not find this daemon\n";
  DaemonView view(ResolveLogFormat(options.log_format) == LogFormat::kJournal);
  server::Server server(view);
  server::ServerEnvironment environment;
  environment.program_directory = directories.data;
  environment.filters_directory = directories.writable;
  environment.settings_directory = store.file().parent_path();
  environment.program_name = platform::ExecutableName();
  environment.auto_start_switch = options.auto_start;
  environment.background_switch = options.background;
  environment.default_ip = settings::ReadDefaultIp(store);
  server.initialise(loaded, environment);
  // Headless, there is no one to press "Start": listen at once.
  if (!server.active()) server.toggleActive();
  auto started = server.waitForStart();
  if (!started || !started->listening) {
    server.shutdown();
    return 1;
  }
  NotifyServiceManager("READY=1\nSTATUS=Listening on port " + std::to_string(started->port));

  // The main thread samples the outgoing rate once a second between
  // signals, so the statistics text has its largest rate headless too.
  transfer::RateSampler sampler;
  sampler.reset(server.bytes_sent.load());
  auto print_statistics = [&] {
    view.appendMonitorText(transfer::StatisticsText(transfer::CurrentFigures(server, sampler.maxRate())));
  };
  const timespec one_second{1, 0};
  for (;;) {
    int signal_number = sigtimedwait(&signals, nullptr, &one_second);
    if (signal_number < 0) {
      sampler.sample(server.bytes_sent.load());
      continue;
    }
    if (signal_number == SIGUSR1) {
      print_statistics();
      continue;
    }
    if (signal_number == SIGHUP) {
      daemon_settings.reload(server);  // operator tools changed files behind the running server
      continue;
    }
    break;
  }
  NotifyServiceManager("STOPPING=1");
  print_statistics();
  server.shutdown();
  if (int error = daemon_settings.saveAtExit(server)) {
    std::cerr << "talvek-ftpd: cannot save " << store.file() << ": " << std::strerror(error) << "\n";
    return 1;
  }
  return 0;
}

// Accounts live in the file "LogonFile" names (by default beside the
// settings), encrypted under this machine's key.
int RunAccounts(const DaemonOptions& options, settings::RegistryStore& store) {
  settings::Settings current;
  settings::LoadSettings(store, current);
  if (current.logonFile.empty()) {
    current.logonFile = (store.file().parent_path() / "accounts.lgn").string();
    store.setString(settings::kSettingsKey, "LogonFile", current.logonFile);
    if (int status = SaveStore(store)) return status;
  }
  std::string key_text = std::to_string(static_cast<int32_t>(platform::SystemVolumeSerial()));
  return accounts::RunAccountsCommand(options.subcommand_args, current.logonFile, current.ftpRootDir, key_text,
                                      std::cout, std::cerr);
}

// The filter list lives in the program directory; its enable flag and mode
// in the general settings block.
int RunFilter(const DaemonOptions& options, settings::RegistryStore& store,
              const std::filesystem::path& filters_directory) {
  auto general = settings::ReadBlock<settings::GeneralSettings>(store).value_or(settings::GeneralSettings{});
  uint32_t enabled = general.filterEnabled, block_listed = general.blockListed;
  int status = filter::RunFilterCommand(options.subcommand_args, filters_directory / filter::kFilterFileName,
                                        enabled, block_listed, std::cout, std::cerr);
  if (status != 0 || (enabled == general.filterEnabled && block_listed == general.blockListed)) return status;
  general.filterEnabled = enabled;
  general.blockListed = block_listed;
  settings::WriteBlock(store, general);
  return SaveStore(store);
}

}  // namespace

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (auto status = AnswerBeforeStart(Program::kDaemon, args)) return *status;
  const DaemonOptions options = *ParseDaemonArguments(args).options;
  auto settings_file = ResolveSettingsFile(options);
  auto directories = ResolveProgramDirectories(options.program_directory, settings_file);
  if (options.subcommand == "reload") return SignalReload(settings_file, std::cout, std::cerr);
  // Every change of the settings file, from its read to its rename, holds its edit lock.
  auto lock = std::make_unique<platform::FileEditLock>(settings_file);
  settings::RegistryStore store(settings_file);
  if (!store.load()) {
    std::cerr << "talvek-ftpd: cannot read " << settings_file << "\n";
    return 1;
  }
  settings::RunFirstStartImport(store, directories.data);

  if (options.subcommand == "config")
    return settings::RunConfigCommand(options.subcommand_args, store, std::cout, std::cerr);
  if (options.subcommand == "accounts") return RunAccounts(options, store);
  if (options.subcommand == "filter") return RunFilter(options, store, directories.writable);
  if (!options.subcommand.empty()) {
    std::cerr << "talvek-ftpd: '" << options.subcommand << "' is not available in this build\n";
    return kUsageError;
  }
  return RunServer(options, store, directories, std::move(lock));
}

}  // namespace talvek::app

int main(int argc, char** argv) { return talvek::app::Main(argc, argv); }
