#include "cli/cli.h"

#include <istream>
#include <ostream>
#include <string_view>

#include "core/base/codepage.h"
#include "core/base/file_path.h"
#include "core/base/text.h"
#include "core/proxylist/line_reader.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/location_source.h"
#include "core/proxylist/proxy_line.h"
#include "core/proxylist/proxy_list.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/checker/verify_command.h"
#include "cli/serve/serve_command.h"
#endif

namespace cli {
namespace {

constexpr std::string_view kUsage =
    "usage:\n"
    "  relaymoth-cli parse < lines\n"
    "  relaymoth-cli locate [--db FILE] ADDRESS...\n"
    "  relaymoth-cli import [--db FILE] [--replace] [--favorite]\n"
    "                       [--export-hostport OUT] [--export-full OUT]\n"
    "                       [--export-with-passwords OUT] FILE...\n"
    "  relaymoth-cli verify [--site URL[=VERIFY STRING]]... [--type TYPE] [--detect]\n"
    "                       [--connect-timeout S] [--timeout S] [--in-flight N]\n"
    "                       [--csv|--json] [--only-working] [--country CODE|NAME]\n"
    "                       [--area NAMES | --not-area NAMES]\n"
    "                       [--grade transparent,anonymous,elite,tunnel] [--judge URL]\n"
    "                       [--exit] [--exit-page URL] [--shard I/N] [--db FILE]\n"
    "                       [--ca-file FILE] [FILE|URL|-]...          (Linux only)\n";

int Usage(std::ostream& err, std::string_view problem) {
  err << "relaymoth-cli: " << problem << "\n" << kUsage;
  return 2;
}

// A field of a TAB-separated record: TABs and line breaks inside it would split
// the record, so they become blanks.
std::string Field(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

// Input lines may come in UTF-8 or in the ANSI code page.
std::string ToUtf8(std::string_view bytes, const core::AnsiCodec& codec) {
  return core::IsValidUtf8(bytes) ? std::string(bytes) : codec.ToUtf8(bytes);
}

int Parse(std::istream& in, std::ostream& out, const core::AnsiCodec& codec) {
  core::LineReader reader(in);
  std::string line;
  bool too_long = false;
  while (reader.Next(&line, &too_long)) {
    core::ProxyLine p;
    if (!too_long && core::ParseProxyLine(ToUtf8(line, codec), &p)) {
      out << "OK\t" << Field(p.address) << '\t' << Field(p.port) << '\t' << p.type << '\t'
          << Field(p.remark);
      // A line with a log-in shows its user name; its password is never printed.
      if (p.has_credentials()) out << '\t' << Field(p.user);
      out << '\n';
    } else {
      out << "REFUSED\n";
    }
  }
  return 0;
}

// The location database named by --db: an IPDB file by its ".ipdb" name,
// anything else read as "wry.dll"; without --db the program's own.
core::LocationSource LocationsFor(const std::string& db, const CliEnv& env) {
  if (db.empty()) {
    return core::LocationSource(core::PathFromUtf8(env.default_ipdb),
                                core::PathFromUtf8(env.default_db));
  }
  std::string_view name = db;
  if (name.size() >= 5 && core::EqualsIgnoreAsciiCase(name.substr(name.size() - 5), ".ipdb")) {
    return core::LocationSource(core::PathFromUtf8(db), {});
  }
  return core::LocationSource({}, core::PathFromUtf8(db));
}

int Locate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnv& env) {
  std::string db;
  std::vector<std::string> addresses;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--db") {
      if (++i == args.size()) return Usage(err, "--db needs a file");
      db = args[i];
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage(err, "unknown option " + args[i]);
    } else {
      addresses.push_back(args[i]);
    }
  }
  if (addresses.empty()) return Usage(err, "locate needs an address");
  core::LocationSource locator = LocationsFor(db, env);
  for (const std::string& a : addresses) {
    std::string text = locator.Locate(a);
    if (text.empty()) {
      out << Field(a) << "\t-\n";
      continue;
    }
    // The country, then the rest of the column text (area, carrier).
    size_t blank = text.find(' ');
    std::string_view country = std::string_view(text).substr(0, blank);
    std::string_view rest =
        blank == std::string::npos ? std::string_view() : std::string_view(text).substr(blank + 1);
    out << Field(a) << '\t' << Field(core::Trim(country)) << '\t' << Field(core::Trim(rest))
        << '\n';
  }
  return 0;
}

int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnv& env, const core::AnsiCodec& codec) {
  std::string db;
  bool replace = false;
  bool favorite = false;
  std::string export_hostport, export_full, export_with_passwords;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--db" || a == "--export-hostport" || a == "--export-full" ||
        a == "--export-with-passwords") {
      if (++i == args.size()) return Usage(err, a + " needs a file");
      (a == "--db"                ? db
       : a == "--export-hostport" ? export_hostport
       : a == "--export-full"     ? export_full
                                  : export_with_passwords) = args[i];
    } else if (a == "--replace") {
      replace = true;
    } else if (a == "--favorite" || a == "--favourite") {
      favorite = true;
    } else if (a.rfind("--", 0) == 0) {
      return Usage(err, "unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) return Usage(err, "import needs a file");

  core::LocationSource locator = LocationsFor(db, env);
  core::ProxyList list;
  list.SetLocator([&locator](std::string_view address) { return locator.Locate(address); },
                  [&locator](bool open) { locator.Hold(open); });
  for (const std::string& f : files) {
    core::ImportSummary s = core::ImportListFile(f, list, !replace, favorite, codec);
    if (s.ok) {
      out << Field(f) << '\t' << s.lines << '\t' << s.added << '\t' << s.duplicates << '\t'
          << s.errors << '\n';
    } else {
      out << Field(f) << "\tERROR\t" << Field(s.message) << '\n';
    }
  }
  for (size_t i = 0; i < list.size(); ++i) {
    out << Field(list.RowFullLine(int64_t(i))) << '\t' << (list.row(i).favorite ? 1 : 0) << '\t'
        << (list.IsReserved(i) ? 1 : 0);
    if (list.row(i).login) out << '\t' << Field(list.row(i).user);
    out << '\n';
  }
  const struct {
    const std::string& path;
    core::ExportForm form;
  } exports[] = {{export_hostport, core::ExportForm::kHostPort},
                 {export_full, core::ExportForm::kFullLine},
                 {export_with_passwords, core::ExportForm::kWithLogins}};
  for (const auto& e : exports) {
    if (e.path.empty()) continue;
#if !defined(_WIN32)
    // Passwords in clear: only the user may read the file, whatever the umask.
    if (e.form == core::ExportForm::kWithLogins) {
      int fd = open(e.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd >= 0) {
        fchmod(fd, 0600);
        close(fd);
      }
    }
#endif
    core::ExportSummary s = core::ExportListFile(e.path, list, e.form, false, codec);
    if (!s.ok) err << "relaymoth-cli: " << s.message << '\n';
  }
  return 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, const CliEnv& env) {
  if (args.empty()) return Usage(err, "no command");
  core::GbkCodec codec;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "parse") {
    if (!rest.empty()) return Usage(err, "parse takes no arguments");
    return Parse(in, out, codec);
  }
  if (args[0] == "locate") return Locate(rest, out, err, env);
  if (args[0] == "import") return Import(rest, out, err, env, codec);
  if (args[0] == "verify") {
#if defined(_WIN32)
    err << "relaymoth-cli: verify is not available on Windows; run it on Linux\n";
    return 2;
#else
    return RunVerify(rest, in, out, err, env);
#endif
  }
  if (args[0] == "serve") {
#if defined(_WIN32)
    err << "relaymoth-cli: serve is not available on Windows; run it on Linux\n";
    return 2;
#else
    return RunServe(rest, out, err, env);
#endif
  }
  if (args[0] == "--help" || args[0] == "help") {
    out << kUsage;
    return 0;
  }
  return Usage(err, "unknown command " + args[0]);
}

}  // namespace cli
