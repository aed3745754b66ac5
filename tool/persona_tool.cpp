#include "tool/persona_tool.h"

#include <optional>
#include <utility>

#include "base/json_writer.h"
#include "base/utf16_text.h"
#include "base/version.h"
#include "discovery/curl_probe.h"
#include "launcher/own_arguments.h"
#include "persona/persona_config.h"
#include "persona/text_file.h"
#include "persona/webgl_profile.h"
#include "platform/atomic_file.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "report/record_files.h"
#include "tool/dry_run.h"
#include "tool/endpoint_list.h"
#include "tool/persona_check.h"
#include "tool/persona_fill.h"
#include "tool/persona_probe.h"

namespace quillwave {
namespace {

constexpr char kUsage[] =
    "usage: quillwave-persona check [--json] PATH\n"
    "       quillwave-persona switches [--json] [--no-window] [--assume-ip IP] [--assume-timezone TZ]\n"
    "                                  [--assume-country CC] [--assume-lat LAT] [--assume-lng LNG]\n"
    "                                  USER_DATA_DIR [-- OWN_ARGUMENTS...]\n"
    "       quillwave-persona probe [--json] USER_DATA_DIR\n"
    "       quillwave-persona fill [--json] [--replace] [--pin] [--dry-run] PATH\n"
    "       quillwave-persona endpoints [--json]\n"
    "       quillwave-persona --version\n";

class Tool {
 public:
  Tool(const std::vector<std::wstring>& arguments, const ToolEnvironment& environment)
      : arguments_(arguments), environment_(environment) {}

  int Run() {
    if (arguments_.empty()) return Usage("no command given");
    command_ = Narrow(arguments_[0]);
    if (command_ == "--help" || command_ == "-h" || command_ == "help") {
      environment_.out(kUsage);
      return 0;
    }
    if (command_ == "--version" || command_ == "version") {
      environment_.out(std::string("quillwave-persona ") + kLauncherVersion + "\n");
      return 0;
    }
    if (command_ == "endpoints") return Endpoints();
    if (command_ != "check" && command_ != "switches" && command_ != "probe" && command_ != "fill") {
      return Usage("unknown command \"" + TerminalText(command_) + "\"");
    }
    if (const int parsed = Parse(); parsed != 0) return parsed;
    if (command_ == "check") return Check();
    if (command_ == "switches") return Switches();
    if (command_ == "fill") return Fill();
    return Probe();
  }

 private:
  int Usage(const std::string& problem) {
    environment_.err("quillwave-persona: " + problem + "\n" + kUsage);
    return kToolUsageError;
  }

  // One line on standard error, naming the command; paths and values in it
  // are made safe for a terminal.
  void Complain(const std::string& problem) {
    environment_.err("quillwave-persona " + command_ + ": " + TerminalText(problem) + "\n");
  }

  int BadCommandLine(const std::string& problem) {
    Complain(problem);
    return kToolUsageError;
  }

  // A report on the persona file: an object that names the file first.
  JsonWriter FileJson() const {
    JsonWriter json(kToolJsonBytes);
    json.BeginObject().String("file", platform::SystemBytes(file_));
    return json;
  }

  // Closes the object and writes it as one line, every byte shown.
  void OutJson(JsonWriter& json) { environment_.out(ShowBytesInJson(json.EndObject().text()) + "\n"); }

  int Parse() {
    const bool assumptions = command_ == "switches";
    for (std::size_t i = 1; i < arguments_.size(); ++i) {
      const std::string argument = platform::SystemBytes(arguments_[i]);
      if (argument == "--" && assumptions) {
        own_.assign(arguments_.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments_.end());
        break;
      }
      if (argument == "--json") {
        json_ = true;
        continue;
      }
      if (command_ == "fill" && (argument == "--replace" || argument == "--pin" || argument == "--dry-run")) {
        (argument == "--replace" ? fill_.replace : argument == "--pin" ? fill_.pin : fill_.dry_run) = true;
        continue;
      }
      if (argument == "--no-window" && assumptions) {
        without_window_ = true;
        continue;
      }
      std::string* target = nullptr;
      if (assumptions) {
        if (argument == "--assume-ip") target = &answer_.ip;
        if (argument == "--assume-timezone") target = &answer_.timezone;
        if (argument == "--assume-country") target = &answer_.country;
        if (argument == "--assume-lat") target = &answer_.lat;
        if (argument == "--assume-lng") target = &answer_.lng;
      }
      if (target != nullptr) {
        if (i + 1 == arguments_.size()) return BadCommandLine(argument + " needs a value");
        *target = Narrow(arguments_[++i]);
        if (const std::string problem = BadAssumption(argument, *target); !problem.empty()) {
          return BadCommandLine(problem);
        }
        if (argument == "--assume-ip") assumed_ = true;
        continue;
      }
      if (argument.size() > 1 && argument[0] == '-') return BadCommandLine("unknown option " + argument);
      if (!path_.empty()) return BadCommandLine("one path only (\"" + argument + "\" is a second one)");
      path_ = arguments_[i];
    }
    if (path_.empty()) {
      return BadCommandLine(command_ == "check" || command_ == "fill" ? "no PATH given" : "no USER_DATA_DIR given");
    }
    if (!assumed_ &&
        (!answer_.timezone.empty() || !answer_.country.empty() || !answer_.lat.empty() || !answer_.lng.empty())) {
      return BadCommandLine("the other --assume- values need --assume-ip");
    }
    return 0;
  }

  static std::string BadAssumption(const std::string& option, const std::string& value) {
    bool good = true;
    if (option == "--assume-ip") good = IsUsableIp(value);
    if (option == "--assume-timezone") good = IsTimeZoneName(value);
    if (option == "--assume-country") {
      good = value.size() == 2 && value[0] >= 'A' && value[0] <= 'Z' && value[1] >= 'A' && value[1] <= 'Z';
    }
    if (option == "--assume-lat") good = IsCoordinate(value, 90);
    if (option == "--assume-lng") good = IsCoordinate(value, 180);
    if (good) return {};
    const char* expected = option == "--assume-ip"         ? "an IPv4 or IPv6 address"
                           : option == "--assume-timezone" ? "a zone name such as Europe/Berlin"
                           : option == "--assume-country"  ? "a two-letter country code such as DE"
                           : option == "--assume-lat"      ? "a decimal latitude from -90 to 90"
                                                           : "a decimal longitude from -180 to 180";
    return option + " \"" + value + "\" is not " + expected;
  }

  std::wstring DataFolder() const { return LauncherDataFolderIn(environment_.local_app_data); }

  // The persona file for PATH: the file itself, or as the launcher finds it
  // for a user-data folder. Its bytes as they lie on disk; empty, with the
  // reason said, when missing.
  std::optional<std::string> ReadPersona(bool path_may_be_file) {
    if (!platform::PathExists(path_)) {
      Complain("no such file or folder: " + platform::SystemBytes(path_));
      return std::nullopt;
    }
    file_ = path_;
    if (platform::IsFolder(path_)) {
      file_ = LocateConfigFile(path_, DataFolder());
    } else if (!path_may_be_file) {
      Complain("not a folder: " + platform::SystemBytes(path_));
      return std::nullopt;
    }
    // A link to nothing in the folder is its persona too, one that cannot be read.
    if (file_.empty() || platform::NothingAt(file_)) {
      Complain("no " + std::string(kPersonaFileName) + " in " + platform::SystemBytes(path_) +
               (file_.empty() ? std::string() : " nor at " + platform::SystemBytes(file_)));
      return std::nullopt;
    }
    std::optional<std::string> bytes = platform::ReadFileBytes(file_);
    if (!bytes) Complain("cannot read " + platform::SystemBytes(file_));
    return bytes;
  }

  // The launch the persona's values must fit: the engine beside the tool,
  // started for the folder the persona lies in.
  CheckedLaunch LaunchToCheck() const {
    CheckedLaunch launch;
    launch.engine_path = environment_.launcher_dir + platform::kPathSeparator + platform::kEngineFileName;
    std::wstring folder = path_;
    if (!platform::IsFolder(path_)) {
      const std::size_t separator = file_.find_last_of(platform::kPathSeparators);
      folder = separator == std::wstring::npos ? L"." : file_.substr(0, separator);
    }
    const std::wstring argument = L"--user-data-dir=" + folder;
    launch.own_arguments = {platform::QuoteArgumentIfNeeded(argument), {argument}};
    return launch;
  }

  int Check() {
    const std::optional<std::string> bytes = ReadPersona(true);
    if (!bytes) return kToolFileMissing;
    const std::optional<std::string> profiles =
        ReadTextFile(environment_.launcher_dir + platform::kPathSeparator + Widen(kWebglProfilesFileName));
    const PersonaCheck check = CheckPersona(*bytes, profiles, LaunchToCheck());
    if (json_) {
      JsonWriter json = FileJson();
      AddPersonaCheckMembers(json, check);
      OutJson(json);
    } else {
      environment_.out("file: " + TerminalText(platform::SystemBytes(file_)) + "\n" + PersonaCheckText(check));
    }
    return ExitCodeFor(check.findings);
  }

  int Switches() {
    if (!platform::IsFolder(path_)) {
      Complain((platform::PathExists(path_) ? "not a folder: " : "no such folder: ") + platform::SystemBytes(path_));
      return kToolFileMissing;
    }
    // The launcher is started with the profile first, then the caller's own;
    // a copied command line that names its profile itself is taken as it is.
    platform::OwnArguments own;
    if (UserDataDirFromArguments(own_).empty()) own.list.push_back(L"--user-data-dir=" + path_);
    own.list.insert(own.list.end(), own_.begin(), own_.end());
    for (const std::wstring& argument : own.list) {
      if (!own.text.empty()) own.text += L' ';
      own.text += platform::QuoteArgumentIfNeeded(argument);
    }
    const Rehearsal rehearsal = RehearseLaunch(environment_.launcher_dir, environment_.local_app_data, own,
                                               assumed_ ? std::optional<AssumedAnswer>(answer_) : std::nullopt,
                                               without_window_);
    if (rehearsal.exit_code == 42) {
      environment_.err(
          "quillwave-persona switches: the launcher would start no engine (exit 42): discovery is needed, "
          "no answer is assumed (--assume-ip), and on-proxy-fail \"block\" refuses the launch when discovery "
          "fails\n");
      return rehearsal.exit_code;
    }
    if (rehearsal.exit_code != 0) {
      const std::wstring& problem = rehearsal.problem;
      // The launcher's message box text (after its caption) on one line.
      std::wstring line;
      for (const wchar_t c : problem.substr(problem.find(L'\n') + 1)) {
        if (c != L'\n') {
          line += c;
        } else if (!line.empty() && line.back() != L' ') {
          line += L' ';
        }
      }
      Complain(platform::SystemBytes(line));
      return rehearsal.exit_code;
    }
    const std::vector<std::wstring> received = platform::ArgumentsAsReceived(rehearsal.launch);
    if (json_) {
      JsonWriter json(kToolJsonBytes);
      json.BeginObject().String("engine", platform::SystemBytes(rehearsal.launch.program)).BeginArray("arguments");
      for (const std::wstring& argument : received) json.String(platform::SystemBytes(argument));
      json.EndArray();
      OutJson(json);
      return 0;
    }
    std::string text;
    for (const std::wstring& argument : received) text += TerminalText(platform::SystemBytes(argument)) + "\n";
    if (const std::wstring line = platform::SystemCommandLine(rehearsal.launch); !line.empty()) {
      text += "\ncommand line:\n" + TerminalText(Narrow(line)) + "\n";
    }
    environment_.out(text);
    return 0;
  }

  // The endpoints this build asks: the first thing to look at when every
  // lookup fails. Nothing is asked.
  int Endpoints() {
    for (std::size_t i = 1; i < arguments_.size(); ++i) {
      const std::string argument = Narrow(arguments_[i]);
      if (argument == "--json") {
        json_ = true;
        continue;
      }
      return BadCommandLine(argument.size() > 1 && argument[0] == '-' ? "unknown option " + argument
                                                                      : "takes no path (\"" + argument + "\")");
    }
    environment_.out(json_ ? EndpointsJson() : EndpointsText());
    return 0;
  }

  int Probe() {
    std::optional<std::string> bytes = ReadPersona(false);
    if (!bytes) return kToolFileMissing;
    const ProbeReport report = ProbePersona(FileTextAsUtf8(std::move(*bytes)), environment_.probe);
    if (json_) {
      JsonWriter json = FileJson();
      AddProbeReportMembers(json, report);
      OutJson(json);
    } else {
      environment_.out("file: " + TerminalText(platform::SystemBytes(file_)) + "\n" + ProbeReportText(report));
    }
    return ExitCodeFor(report.findings);
  }

  // The lookup as probe runs it, then the values it gives written into the
  // file; a failed lookup or a file that cannot be edited safely changes nothing.
  int Fill() {
    const std::optional<std::string> bytes = ReadPersona(true);
    if (!bytes) return kToolFileMissing;
    ProbeReport report;
    PersonaFill fill;
    fill.refusal = UneditablePersona(*bytes);
    // Replacing a link would cut it, and leave the file it names as it was.
    if (!platform::RegularFileWriteTime(file_)) {
      fill.refusal = Finding{kSeverityError, "", 0, 0, "not a regular file (a link?): fill the file it names"};
    }
    if (!fill.refusal) report = ProbePersona(FileTextAsUtf8(*bytes), environment_.probe);
    if (report.succeeded) {
      fill = FillPersona(*bytes, report.answer, fill_, platform::SystemBytes(file_));
      if (!fill.refusal) report.findings = EgressFindings(fill.text, report.answer);
    }
    if (fill.refusal) report.findings = {*fill.refusal};
    std::wstring backup;
    if (report.succeeded && !fill.refusal && fill.changed() && !fill_.dry_run) {
      backup = file_ + L".bak";
      // The persona may hold the proxy's password: neither file is opener than it was.
      const platform::NewFilesNoOpenerThan permissions(file_);
      if (!platform::WriteFileAtomic(backup, *bytes) || !platform::WriteFileAtomic(file_, fill.bytes)) {
        Complain("cannot write " + platform::SystemBytes(file_) + " or " + platform::SystemBytes(backup));
        return 2;
      }
    }
    const std::string shown_backup = platform::SystemBytes(backup);
    const bool filled = report.succeeded && !fill.refusal;
    if (json_) {
      JsonWriter json = FileJson();
      AddPersonaFillMembers(json, fill, fill_, shown_backup);
      AddProbeReportMembers(json, report);
      OutJson(json);
    } else {
      environment_.out("file: " + TerminalText(platform::SystemBytes(file_)) + "\n" + ProbeReportText(report) +
                       (filled ? PersonaFillText(fill, fill_, shown_backup) : "nothing written\n"));
    }
    return ExitCodeFor(report.findings);
  }

  const std::vector<std::wstring>& arguments_;
  const ToolEnvironment& environment_;
  std::string command_;
  bool json_ = false;
  bool assumed_ = false;
  bool without_window_ = false;
  AssumedAnswer answer_;
  FillOptions fill_;
  std::wstring path_;
  std::wstring file_;
  std::vector<std::wstring> own_;
};

}  // namespace

ToolEnvironment SystemToolEnvironment() {
  ToolEnvironment environment;
  environment.launcher_dir = platform::LauncherDirectory();
  environment.local_app_data = platform::LocalAppDataFolder();
  environment.probe = ProbeWithCurl;
  environment.out = platform::WriteStandardOutput;
  environment.err = platform::WriteStandardError;
  return environment;
}

int RunPersonaTool(const std::vector<std::wstring>& arguments, const ToolEnvironment& environment) {
  return Tool(arguments, environment).Run();
}

}  // namespace quillwave
