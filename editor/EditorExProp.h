#pragma once
// Holds a complete property set of an editor control: takes it from a control, puts it onto one,
// and writes it to and reads it from bytes. The bytes start with a signature and a version and end
// with a checksum; anything else (the settings file can be edited by hand) is refused with
// EEditorPropError and leaves the held set unchanged.
#include <iosfwd>
#include <string>
#include <string_view>

#include "editor/EditorProps.h"
#include "platform/Exception.h"

namespace pek {

class TEditor;

class EEditorPropError : public Exception {
public:
    using Exception::Exception;
};

class TEditorExProp {
public:
    static constexpr uint16_t kVersion = 1;

    TEditorExProp() = default;

    const TEditorProps& Props() const { return props_; }
    TEditorProps& Props() { return props_; }

    void Assign(const TEditor& editor);   // take all properties from editor
    void AssignTo(TEditor& editor) const; // put them onto editor

    std::string SaveToBytes() const;
    void LoadFromBytes(std::string_view bytes);  // throws EEditorPropError
    void WriteToStream(std::ostream& out) const;
    void ReadFromStream(std::istream& in);       // reads to the end of the stream

private:
    TEditorProps props_;
};

}  // namespace pek
