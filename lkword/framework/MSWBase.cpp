#include "lkword/framework/MSWBase.h"

#include <sys/stat.h>

#include <algorithm>

#include "lkword/framework/MSWordCnst.h"
#include "lkword/framework/MarkdownRenderer.h"
#include "lkword/framework/TextRenderer.h"
#include "lkword/platform/Bytes.h"
#include "lkword/platform/CodePages.h"
#include "lkword/platform/DateTime.h"
#include "lkword/platform/Exceptions.h"

namespace lkw {

namespace {

const char* const kGenerator = "Larkmoor Word Document Parser";

}  // namespace

// ---------------------------------------------------------------------------
// TWideStrings

WideString TWideStrings::Get(int Index) const {
  if (Index < 0 || Index >= Count()) return {};
  return FWideStringList[static_cast<size_t>(Index)];
}

int TWideStrings::Add(WideString S) {
  FTextLength += static_cast<int64_t>(S.size()) + 2;
  FWideStringList.push_back(std::move(S));
  return Count() - 1;
}

void TWideStrings::Insert(int Index, WideString S) {
  if (Index < 0 || Index > Count()) throw EListError(SWideStringsIndexOutOfBounds);
  FTextLength += static_cast<int64_t>(S.size()) + 2;
  FWideStringList.insert(FWideStringList.begin() + Index, std::move(S));
}

void TWideStrings::Delete(int Index) {
  if (Index < 0 || Index >= Count()) throw EListError(SWideStringsIndexOutOfBounds);
  FTextLength -= static_cast<int64_t>(FWideStringList[static_cast<size_t>(Index)].size()) + 2;
  FWideStringList.erase(FWideStringList.begin() + Index);
}

void TWideStrings::Clear() {
  FWideStringList.clear();
  FTextLength = 0;
}

int TWideStrings::IndexOf(const WideString& S) const {
  for (size_t i = 0; i < FWideStringList.size(); ++i)
    if (FWideStringList[i] == S) return static_cast<int>(i);
  return -1;
}

int TWideStrings::IndexOfIgnoreCase(const WideString& S) const {
  for (size_t i = 0; i < FWideStringList.size(); ++i)
    if (WideCompareText(S, FWideStringList[i]) == 0) return static_cast<int>(i);
  return -1;
}

WideString TWideStrings::GetTextStr() const {
  WideString out;
  out.reserve(static_cast<size_t>(FTextLength));
  for (const auto& s : FWideStringList) {
    out += s;
    out += u"\r\n";
  }
  return out;
}

std::string TWideStrings::ToUtf8() const {
  std::string out;
  for (size_t i = 0; i < FWideStringList.size(); ++i) {
    if (i) out += '\n';
    out += WideToUtf8(FWideStringList[i]);
  }
  return out;
}

void TWideStrings::SaveToStream(TStream& Stream) const {
  if (FSaveUnicode) {
    std::string bytes = "\xFF\xFE";
    WideString text = GetTextStr();
    bytes += WideToMultiByte(CP_UTF16LE, text);
    Stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  } else {
    RawByteString bytes = WideToMultiByte(GetACP(), GetTextStr());
    if (!bytes.empty()) Stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
}

void TWideStrings::SaveToFile(const std::string& FileName) const {
  TFileStream f(FileName, fmCreate);
  SaveToStream(f);
}

void TWideStrings::TruncateTo(int64_t MaxLen) {
  if (FTextLength <= MaxLen) return;
  int64_t used = 0;
  size_t keep = 0;
  for (; keep < FWideStringList.size(); ++keep) {
    int64_t len = static_cast<int64_t>(FWideStringList[keep].size());
    if (used + len + 2 > MaxLen) {
      int64_t room = MaxLen - used;
      if (room > 0) {
        FWideStringList[keep].resize(static_cast<size_t>(std::min(room, len)));
        used += static_cast<int64_t>(FWideStringList[keep].size()) + 2;
        ++keep;
      }
      break;
    }
    used += len + 2;
  }
  FWideStringList.resize(keep);
  FTextLength = used;
}

int WideCompareText(const WideString& S1, const WideString& S2) { return CompareTextIgnoreCase(S1, S2); }

// ---------------------------------------------------------------------------
// Output helpers

void AppendEscapedMarkup(WideString& Out, std::u16string_view AText, TMSTextFormating Format) {
  switch (Format) {
    case tfPlainText:
      for (char16_t c : AText)
        if (c != kSoftHyphenChar) Out += c;
      return;
    case tfMarkdown:
      AppendMarkdownEscaped(Out, AText, false);
      return;
    case tfHTML:
      for (char16_t c : AText) {
        switch (c) {
          case u'&': Out += u"&amp;"; break;
          case u'<': Out += u"&lt;"; break;
          case u'>': Out += u"&gt;"; break;
          case u'"': Out += u"&quot;"; break;
          default: Out += c;
        }
      }
      return;
    case tfRTF:
      for (char16_t c : AText) {
        if (c == u'\\' || c == u'{' || c == u'}') {
          Out += u'\\';
          Out += c;
        } else if (c > 0x7F) {
          // RTF takes the code unit as a signed 16-bit number.
          Out += u"\\u";
          Out += AsciiToWide(std::to_string(static_cast<int16_t>(c)));
          Out += u'?';
        } else {
          Out += c;
        }
      }
      return;
  }
}

WideString EscapeText(const WideString& AText, TMSTextFormating Format) {
  if (Format == tfPlainText && AText.find(kSoftHyphenChar) == WideString::npos) return AText;
  WideString out;
  out.reserve(AText.size() + 16);
  AppendEscaped(out, AText, Format);
  return out;
}

WideString GetHTMLFontSize(int Size) {
  if (Size >= 6 && Size <= 7) return u"1";
  if (Size >= 8 && Size <= 9) return u"2";
  if (Size >= 14 && Size <= 17) return u"4";
  if (Size >= 18 && Size <= 23) return u"5";
  if (Size >= 24 && Size <= 35) return u"6";
  return u"-1";
}

WideString FormatRTFDateTime(TDateTime DT) {
  int y, m, d, h, mi, s, ms;
  DecodeDate(DT, y, m, d);
  std::string out = "yr" + std::to_string(y) + "\\mo" + std::to_string(m) + "\\dy" + std::to_string(d);
  if (DT - static_cast<double>(static_cast<int64_t>(DT)) != 0.0) {
    DecodeTime(DT, h, mi, s, ms);
    out += "\\hr" + std::to_string(h) + "\\min" + std::to_string(mi);
  }
  return AsciiToWide(out);
}

// ---------------------------------------------------------------------------
// TMSWBaseDocument

TMSWBaseDocument::TMSWBaseDocument(TComponent* AOwner)
    : TComponent(AOwner),
      FAbout("1.47"),
      FText(std::make_unique<TWideStrings>()),
      FSummaryInformation(std::make_unique<TLKWordSummaryInformation>()) {}

TMSWBaseDocument::~TMSWBaseDocument() {
  FText.reset();
  TMSWBaseDocument::ClearInternalLists();
}

void TMSWBaseDocument::AddWarning(const std::string& Message) {
  constexpr size_t kMaxWarnings = 100;
  for (auto& w : FWarnings)
    if (w.Message == Message) {
      ++w.Count;
      return;
    }
  if (FWarnings.size() < kMaxWarnings) FWarnings.push_back({Message, 1});
}

uint32_t TMSWBaseDocument::DefaultCodePage() const { return FDefaultCodePage ? FDefaultCodePage : GetACP(); }

void TMSWBaseDocument::MarkPartial(const std::string& Lost) {
  FPartial = true;
  AddWarning(Lost);
}

void TMSWBaseDocument::ClearInternalLists() {
  FWarnings.clear();
  FPartial = false;
  if (FText) FText->Clear();
  if (FSummaryInformation) FSummaryInformation->Clear();
  IsCancelExtract = false;
  FLoadStart = std::chrono::steady_clock::now();
  FOutput.reset();
  FRenderer.reset();
  FMarkdown.reset();
  FRendererPath.reset();
  FPath.reset();
}

void TMSWBaseDocument::AddText(const WideString& AText, TWideStrings& Strings) { TextPath().AddTo(Strings, AText); }

void TMSWBaseDocument::AddDocumentEvents(TDocumentEvents* Consumer) {
  if (Consumer && std::find(FConsumers.begin(), FConsumers.end(), Consumer) == FConsumers.end())
    FConsumers.push_back(Consumer);
}

void TMSWBaseDocument::RemoveDocumentEvents(TDocumentEvents* Consumer) {
  FConsumers.erase(std::remove(FConsumers.begin(), FConsumers.end(), Consumer), FConsumers.end());
}

TTextPath& TMSWBaseDocument::MakeTextPath() {
  TTextPath::TSettings s;
  s.List = FText.get();
  if (FTextSink && SupportsTextSink()) {
    s.Sink = &FTextSink;
    if (FUtf8TextSink) s.Utf8Sink = &FUtf8TextSink;
  }
  s.MaxLength = FMaxTextLength;
  s.Cancelled = &IsCancelExtract;
  s.OnCut = [this] { AddWarning(kOutputCutWarning); };
  s.HoldFinish = FHoldTextFinish;
  if (FTimeLimit > 0) s.Deadline = FLoadStart + std::chrono::milliseconds(FTimeLimit);
  FPath = std::make_unique<TTextPath>(std::move(s));
  return *FPath;
}

std::unique_ptr<TTextRenderer> TMSWBaseDocument::CreateRenderer() {
  return std::make_unique<TTextRenderer>(*this, RendererPath());
}

TTextPath& TMSWBaseDocument::RendererPath() {
  if (FTextFormating != tfMarkdown) return TextPath();
  if (!FRendererPath) {
    static const TMSWTextSink kNowhere = [](std::u16string_view) {};
    TTextPath::TSettings s;
    s.List = FText.get();
    s.Sink = &kNowhere;
    s.Cancelled = &IsCancelExtract;
    if (FTimeLimit > 0) s.Deadline = FLoadStart + std::chrono::milliseconds(FTimeLimit);
    FRendererPath = std::make_unique<TTextPath>(std::move(s));
  }
  return *FRendererPath;
}

TDocumentOutput& TMSWBaseDocument::MakeOutput() {
  TTextPath& path = TextPath();
  FRenderer = CreateRenderer();
  std::vector<TDocumentEvents*> consumers{FRenderer.get()};
  if (FTextFormating == tfMarkdown) {
    FMarkdown = std::make_unique<TMarkdownRenderer>(*this, path, *FRenderer);
    consumers.insert(consumers.begin(), FMarkdown.get());
  }
  consumers.insert(consumers.end(), FConsumers.begin(), FConsumers.end());
  FOutput = std::make_unique<TDocumentOutput>(path, std::move(consumers));
  return *FOutput;
}

void TMSWBaseDocument::InternalLoadFromOLEStream(TStream& Stream) { LoadFromStream(Stream); }

void TMSWBaseDocument::LoadFromStream(TStream&) { ClearInternalLists(); }

void TMSWBaseDocument::LoadFromOLEStream(TStream& Stream) {
  uint8_t head[12];
  Stream.ReadBuffer(head, 12);
  if (LoadLE32(head) != 0x434F4442) Stream.Seek(-12, soCurrent);
  InternalLoadFromOLEStream(Stream);
}

void TMSWBaseDocument::CheckFileExists(const std::string& AFileName) {
  struct stat st {};
  if (AFileName.empty() || ::stat(AFileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    throw EFileNotFoundError(Format(SFileNotFound, {AFileName}));
}

void TMSWBaseDocument::LoadFromFile(const std::string& AFileName) try {
  CheckFileExists(AFileName);
  if (MapsFile()) {
    const std::unique_ptr<TStream> stream = OpenFileForReading(AFileName);
    LoadFromStream(*stream);
  } else {
    TFileStream stream(AFileName, fmOpenRead | fmShareDenyNone);
    LoadFromStream(stream);
  }
} catch (...) {
  RethrowAsException();
}

bool TMSWBaseDocument::IsPasswordProtected() { return false; }

void TMSWBaseDocument::Execute() {
  if (FOnBeforeExecute) FOnBeforeExecute(this);
  LoadFromFile(FFileName);
  if (FOnAfterExecute) FOnAfterExecute(this);
}

WideString TMSWBaseDocument::GetTextStart() {
  WideString result;
  const std::string cp = std::to_string(GetACP());
  const std::string g = kGenerator;
  switch (FTextFormating) {
    case tfPlainText:
    case tfMarkdown:
      break;
    case tfRTF:
      result = AsciiToWide("{\\rtf1\\ansi\\ansicpg" + cp + "\\uc1\r\n{\\*\\generator " + g + ";}{\\info{\\operator " + g +
                           "}{\\*\\company Larkmoor Software}{\\creatim\\") +
               FormatRTFDateTime(OutputStampTime()) + AsciiToWide("}{\\title " + g + "}}\r\n");
      break;
    case tfHTML:
      result = AsciiToWide(
          "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\"\r\ncontent=\"text/html; charset=windows-" + cp +
          "\">\r\n<meta name=\"GENERATOR\" content=\"" + g + "\">\r\n<title>" + g +
          "</title>\r\n</head>\r\n\r\n<body bgcolor=\"#FFFFFF\">\r\n");
      break;
  }
  if (FOnBeforeText) FOnBeforeText(this, result);
  return result;
}

WideString TMSWBaseDocument::GetTextFinish() {
  WideString result;
  if (FTextFormating == tfRTF)
    result = u"\r\n}";
  else if (FTextFormating == tfHTML)
    result = u"\r\n</body>\r\n</html>";
  if (FOnAfterText) FOnAfterText(this, result);
  return result;
}

}  // namespace lkw
