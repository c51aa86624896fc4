#pragma once
// Text from outside (the marketplace, the vendor's pages, a robot's answer) is shown, printed and passed on
// as inert characters: a control character or an escape sequence in it could retitle or clear a terminal,
// forge log lines or move the cursor over what the merchant reads. Everything here removes them.

#include <streambuf>
#include <string>
#include <string_view>

namespace tandrel {

enum class TextBytes {
    Gbk,   // the program's own texts; double-byte characters are stepped over whole
    Utf8,  // what reaches a terminal or a robot; C1 controls (U+0080 to U+009F) count too, and bytes that
           // are not UTF-8 are dropped
};

enum class LineBreaks {
    Keep,     // tab, CR and LF stay (a notice's lines)
    ToSpace,  // each tab and each line break (a CR LF pair counts as one) becomes a space: one field, one
              // line
};

// Removes every control character but tab and (with Keep) CR and LF: the other C0 controls, DEL, the C1
// controls in UTF-8, and each escape sequence whole (ESC [ ... final byte, ESC ] ... BEL or ESC \, the
// other string sequences, two-byte escapes). A string sequence left open ends at a line break, so one bad
// field cannot swallow the lines after it.
std::string RemoveControls(std::string_view text, TextBytes bytes, LineBreaks breaks = LineBreaks::Keep);

// Whether a spreadsheet could take the text for a formula: after any blanks (ASCII or the ideographic
// space) it starts with = + - @ in half or full width, or with a tab or line break.
bool LooksLikeFormula(std::string_view text, TextBytes bytes);
// A field from outside made safe for a file a spreadsheet may open: its controls removed (a tab or line
// break becomes a space) and, when it could be taken for a formula, a leading "'". Text that is all digits
// (an id) is left as it is.
std::string SpreadsheetField(std::string_view text, TextBytes bytes);

// A nickname or name posted to a chat group mentions nobody: "@" and "<", ">" become their fullwidth
// forms, so neither "@all" nor "<at user_id=\"all\">" reaches the robot as a mention (UTF-8 in and out).
std::string DefuseMentions(std::string_view utf8);

// A stream buffer that passes UTF-8 text on to another with its controls removed (line breaks kept). Text
// is held until a line ends or the stream is flushed; a character cut at a flush waits for its rest, so a
// C1 control cannot be assembled from two writes.
class ControlFilterBuf : public std::streambuf {
  public:
    explicit ControlFilterBuf(std::streambuf* target) : target_(target) {}
    ~ControlFilterBuf() override;
    ControlFilterBuf(const ControlFilterBuf&) = delete;
    ControlFilterBuf& operator=(const ControlFilterBuf&) = delete;

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    void Emit(bool keepIncompleteTail);

    std::streambuf* target_;
    std::string held_;
};

// Puts a ControlFilterBuf in front of a stream for as long as it lives (std::cout and std::cerr in main).
class FilteredStream {
  public:
    explicit FilteredStream(std::ostream& stream);
    ~FilteredStream();
    FilteredStream(const FilteredStream&) = delete;
    FilteredStream& operator=(const FilteredStream&) = delete;

  private:
    std::ostream& stream_;
    std::streambuf* original_;
    ControlFilterBuf filter_;
};

}  // namespace tandrel
