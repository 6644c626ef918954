#pragma once

#include <QString>

#include <span>

namespace qm::cli {

// The one description of quillmark-capture's command line. The usage texts that --help prints
// and the manual page that the build writes are both made from these tables, so they cannot
// say different things.

struct OptionHelp {
  const char* Name;   // "--fps"
  const char* Value;  // "N", or empty for a switch
  const char* Text;   // one line
};

struct CommandHelp {
  const char* Name;       // "record"
  const char* Arguments;  // what follows the name, before the options
  const char* Summary;    // one line
  const char* Details;    // a paragraph, or empty
  std::span<const OptionHelp> Options;
};

std::span<const CommandHelp> CommandTable();

// The entry of a command, or nullptr.
const CommandHelp* FindCommand(const QString& name);

// The tool's description, its exit codes and its environment, as paragraphs.
const char* ToolDescription();
std::span<const OptionHelp> ExitCodes();
std::span<const OptionHelp> EnvironmentHelp();

// "usage:" and every command with its arguments and summary.
QString UsageText();

// "usage:" and one command with its options.
QString CommandUsage(const CommandHelp& command);

// What a command-line mistake prints: the error, the one usage line (of command, or of the
// tool when null) and where the help is.
QString MistakeText(const QString& error, const CommandHelp* command);

// "quillmark-capture (Quillmark) VERSION".
QString VersionText();

// One option as the usage shows it: "--fps N".
QString OptionSynopsis(const OptionHelp& option);

}  // namespace qm::cli
