#pragma once
// Checks a program's switch table against its parser and its help text: every entry must be
// taken out of the command line in both spellings with its declared values (leaving exactly the
// positional arguments) and be named in the help.

#include <set>
#include <string>
#include <vector>

#include "CMyCmdParser.h"

// positional: the words a run needs besides the switch (kept in front of it). undocumented:
// short spellings the help deliberately leaves out.
void expectSwitchTableHolds(const std::vector<CMyCmdParser::SwitchSpec>& table,
                            const std::string& help, const std::vector<std::string>& positional,
                            const std::set<std::string>& undocumented = {});
