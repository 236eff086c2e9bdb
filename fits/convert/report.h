// How the core tells the user something while a command runs. The window shows message
// boxes and collects warnings for its end-of-command report; fits-convert prints them.
#pragma once

#include <string>

namespace fits {

class Reporter {
  public:
    virtual ~Reporter() = default;
    // A message box with an OK button ("Data type not supported.", caption "FITS").
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
    // Something the user should know about a file that was still written.
    virtual void Warning(const std::string& text) = 0;
};

}  // namespace fits
