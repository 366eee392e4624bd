// qil annotations: the annotations stored in a TIFF page, as text or JSON.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "annotations/annotations.h"
#include "cli/json.h"
#include "cli/sha256.h"
#include "platform/exceptions.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace qil::cli {

namespace {

std::string Color(const RGBQUAD& c) {
    std::string s(1, '[');
    for (int v : {c.rgbBlue, c.rgbGreen, c.rgbRed, c.rgbReserved}) {
        if (s.size() > 1) s += ',';
        s += std::to_string(v);
    }
    s += ']';
    return s;
}

const char* Bool(bool b) { return b ? "true" : "false"; }

// The face name as stored: the bytes up to the first NUL of the 32-byte field.
std::string FaceName(const TLogFontA& f) { return std::string(f.lfFaceName, strnlen(f.lfFaceName, sizeof f.lfFaceName)); }

struct TPicture {
    size_t Size = 0;
    std::string Sha;  // empty without a picture
};

TPicture Picture(HGLOBAL h) {
    TPicture p;
    if (h == 0) return p;
    p.Size = GlobalSize(h);
    auto* bytes = static_cast<const uint8_t*>(GlobalLock(h));
    if (bytes) {
        p.Sha = Sha256Hex(bytes, p.Size);
        GlobalUnlock(h);
    }
    return p;
}

std::string ToJson(const TGenericAnnotation& a) {
    const TLogFontA& f = a.LogFont;
    std::string s = "{\"class\": " + JsonString(a.ClassName()) + ", \"mark_type\": " + std::to_string(a.MarkType) +
                    ", \"index\": " + std::to_string(a.Index) + ", \"bounds\": " + JsonRect(a.Bounds) +
                    ", \"color1\": " + Color(a.Color1) + ", \"color2\": " + Color(a.Color2) +
                    ", \"highlighting\": " + Bool(a.Highlighting) + ", \"transparent\": " + Bool(a.Transparent) +
                    ", \"visible\": " + Bool(a.Visible) + ", \"line_size\": " + std::to_string(a.LineSize) +
                    ", \"time\": " + std::to_string(a.Time) + ", \"group\": " + JsonLatin1(a.Group) +
                    ", \"font\": {\"height\": " + std::to_string(f.lfHeight) + ", \"width\": " + std::to_string(f.lfWidth) +
                    ", \"escapement\": " + std::to_string(f.lfEscapement) +
                    ", \"orientation\": " + std::to_string(f.lfOrientation) + ", \"weight\": " + std::to_string(f.lfWeight) +
                    ", \"italic\": " + std::to_string(f.lfItalic) + ", \"underline\": " + std::to_string(f.lfUnderline) +
                    ", \"strike_out\": " + std::to_string(f.lfStrikeOut) + ", \"charset\": " + std::to_string(f.lfCharSet) +
                    ", \"face\": " + JsonLatin1(FaceName(f)) + "}";
    if (auto* line = dynamic_cast<const TGenericLineAnnotation*>(&a)) {
        s += ", \"points\": [";
        for (int32_t i = 0; i < line->PointCount(); ++i) {
            TPoint p = line->GetPoint(i);
            s += std::string(i ? "," : "") + "[" + std::to_string(p.X) + "," + std::to_string(p.Y) + "]";
        }
        s += "]";
    }
    if (auto* text = dynamic_cast<const TGenericTextAnnotation*>(&a))
        s += ", \"text\": " + JsonLatin1(text->Text) + ", \"creation_resolution\": " + std::to_string(text->CreationResolution);
    if (auto* image = dynamic_cast<const TGenericImageAnnotation*>(&a)) {
        s += ", \"file_name\": " + JsonLatin1(image->FileName) + ", \"rotation\": " + std::to_string(image->Rotation) +
             ", \"scale\": " + std::to_string(image->Scale) +
             ", \"source_x_resolution\": " + std::to_string(image->SourceXResolution) +
             ", \"source_y_resolution\": " + std::to_string(image->SourceYResolution);
    }
    if (auto* embedded = dynamic_cast<const TAnnotationImageEmbedded*>(&a)) {
        TPicture p = Picture(embedded->DIBHandle);
        s += ", \"dib_size\": " + std::to_string(p.Size) + ", \"dib_sha256\": " + (p.Sha.empty() ? "null" : JsonString(p.Sha));
    }
    return s + "}";
}

// Latin-1 bytes as UTF-8 text for the terminal.
std::string Latin1(const std::string& bytes) {
    std::string j = JsonLatin1(bytes);
    return j.substr(1, j.size() - 2);
}

std::string ToText(const TGenericAnnotation& a) {
    const TRect& b = a.Bounds;
    std::string s = std::to_string(a.Index) + ": " + a.ClassName() + " (mark type " + std::to_string(a.MarkType) +
                    ") at " + std::to_string(b.Left) + "," + std::to_string(b.Top) + " - " + std::to_string(b.Right) +
                    "," + std::to_string(b.Bottom) + ", group \"" + Latin1(a.Group) + "\", line size " +
                    std::to_string(a.LineSize) + (a.Visible ? "" : ", hidden") +
                    (a.Highlighting ? ", highlighting" : "") + (a.Transparent ? ", transparent" : "") + "\n";
    if (auto* line = dynamic_cast<const TGenericLineAnnotation*>(&a)) {
        s += "    points:";
        for (int32_t i = 0; i < line->PointCount(); ++i) {
            TPoint p = line->GetPoint(i);
            s += " (" + std::to_string(p.X) + "," + std::to_string(p.Y) + ")";
        }
        s += "\n";
    }
    if (auto* text = dynamic_cast<const TGenericTextAnnotation*>(&a))
        s += "    text: \"" + Latin1(text->Text) + "\" (font \"" + Latin1(FaceName(a.LogFont)) + "\", created at " +
             std::to_string(text->CreationResolution) + " dpi)\n";
    if (auto* image = dynamic_cast<const TGenericImageAnnotation*>(&a)) {
        s += "    image: \"" + Latin1(image->FileName) + "\", rotation " + std::to_string(image->Rotation) + ", scale " +
             std::to_string(image->Scale) + "\n";
    }
    if (auto* embedded = dynamic_cast<const TAnnotationImageEmbedded*>(&a)) {
        TPicture p = Picture(embedded->DIBHandle);
        s += p.Sha.empty() ? "    no embedded picture\n"
                           : "    embedded picture: " + std::to_string(p.Size) + " bytes, sha256 " + p.Sha + "\n";
    }
    return s;
}

}  // namespace

int RunAnnotations(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    int32_t page = 0;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--page") {
            int32_t v = -1;
            if (i + 1 >= args.size() || !TryStrToInt(args[i + 1], v) || v < 0) {
                err << "qil: --page needs a page number (0 or more)\nTry 'qil annotations --help' for more information.\n";
                return 2;
            }
            page = v;
            ++i;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            err << "qil: unknown option for annotations: " << a << "\nTry 'qil annotations --help' for more information.\n";
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 1) {
        err << "qil: annotations takes exactly one file\nTry 'qil annotations --help' for more information.\n";
        return 2;
    }
    TAnnotations list;
    std::string error;
    bool failed = false;
    try {
        list.LoadFromFile(files[0], page);
    } catch (const std::exception& e) {
        failed = true;
        error = e.what();
    }
    if (json) {
        std::string s = "{\"error\": " + (failed ? JsonString(error) : std::string("null")) +
                        ", \"default_group\": " + JsonLatin1(list.DefaultGroup) + ", \"annotations\": [";
        for (int32_t i = 0; i < list.Count(); ++i) s += (i ? ", " : "") + ToJson(*list.Items(i));
        out << s << "]}\n";
    } else {
        out << files[0] << " page " << page << ": " << list.Count()
            << (list.Count() == 1 ? " annotation" : " annotations") << ", default group \"" << Latin1(list.DefaultGroup)
            << "\"\n";
        for (int32_t i = 0; i < list.Count(); ++i) out << ToText(*list.Items(i));
    }
    if (failed) {
        err << "qil: " << files[0] << ": " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace qil::cli
