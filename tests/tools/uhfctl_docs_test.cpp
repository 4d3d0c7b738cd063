// What ships beside uhfctl: the bash completion offers its commands and options (the reader
// commands asked of uhfctl itself), and the man page names every command and option uhfctl has.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "process.hpp"

namespace {

using tooltest::run;

// Completes `line` (words separated by spaces, the last one being completed) with the script.
std::string complete(const std::string& line) {
    // _init_completion comes from bash-completion, which need not be installed: a stand-in with
    // its contract (cur, prev, words, cword).
    // Appended piece by piece: g++ 12 misreads a long chain of string temporaries (-Warray-bounds).
    std::string script = "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; ";
    script += "cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }\n";
    script += "_filedir() { :; }\n";
    script += "source ";
    script += UHFCTL_COMPLETION;
    script += "\nCOMP_WORDS=(";
    script += UHFCTL_PATH;
    script += " ";
    script += line;
    script += ")\nCOMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n_uhfctl\n";
    script += "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    const auto r = run({"/bin/bash", "-c", script});
    EXPECT_EQ(r.exit, 0) << r.err;
    return r.out;
}

TEST(Completion, OffersCatalogueCommandsBuiltinsAndOptions) {
    EXPECT_NE(complete("--sim EPC_Read_T").find("EPC_Read_TAG\n"), std::string::npos);
    EXPECT_NE(complete("in").find("inventory\n"), std::string::npos);
    const std::string options = complete("--sim inventory --w");
    EXPECT_EQ(options, "--watch\n");
    EXPECT_NE(complete("--baud 96").find("9600\n"), std::string::npos);
    EXPECT_NE(complete("--tr").find("--trace\n"), std::string::npos);
}

TEST(ManPage, NamesEveryCommandAndOption) {
    std::ifstream f(UHFCTL_MAN);
    ASSERT_TRUE(f);
    std::stringstream page;
    page << f.rdbuf();
    // roff writes a minus as "\-".
    std::string text;
    for (std::size_t i = 0; i < page.str().size(); ++i)
        if (!(page.str()[i] == '\\' && i + 1 < page.str().size() && page.str()[i + 1] == '-')) text += page.str()[i];
    const auto help = run({UHFCTL_PATH, "--help"});
    ASSERT_EQ(help.exit, 0);
    std::istringstream lines(help.out);
    std::string word;
    std::size_t checked = 0;
    // Every option and command word the overview lists.
    while (lines >> word) {
        if (word.rfind("--", 0) != 0 || word.size() < 4) continue;
        while (!word.empty() && !std::isalnum(static_cast<unsigned char>(word.back()))) word.pop_back();
        EXPECT_NE(text.find(word), std::string::npos) << word << " is not in the man page";
        ++checked;
    }
    EXPECT_GE(checked, 15u);
    // Each command heads an item of its own: ".B link", ".BI raw ...", ".BR commands ...".
    for (const char* command : {"link", "info", "scan", "inventory", "raw", "demo", "commands", "help"}) {
        const std::string c = command;
        EXPECT_TRUE(text.find(".TP\n.B " + c + "\n") != std::string::npos ||
                    text.find(".TP\n.BI " + c + " ") != std::string::npos ||
                    text.find(".TP\n.BR " + c + " ") != std::string::npos)
            << command;
    }
    for (const char* status : {".B 0", ".B 1", ".B 2", ".B 3"}) EXPECT_NE(text.find(status), std::string::npos);
}

}  // namespace
