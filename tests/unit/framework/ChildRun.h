// Runs a piece of the program in a child process with its standard output
// captured and, optionally, its standard input fed from a string, so that
// code that prints through WriteOut or ends the process with _exit can be
// checked as the user would see it. Standard error stays the test's own.
#ifndef CHILDRUN_H
#define CHILDRUN_H

#include <functional>
#include <string>

#include "support/Process.h"

// out: standard output; status: exit status, or 128 + signal.
using ChildResult = testsupport::ProcessResult;

inline ChildResult RunInChild(const std::function<void()>& body, const std::string& input = "")
{
    testsupport::ProcessOptions options;
    options.input = input;
    options.errors = testsupport::ErrorOutput::Inherited;
    return testsupport::RunForked(body, options);
}

#endif
