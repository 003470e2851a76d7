#pragma once
// The conversion library qarn_slm1, loaded at run time from the program
// folder so a site can drop in a replacement. Its one function ConvertSlToXt
// turns a normalised receipt line into a register command.

#include "common/OperatorUi.h"

#include <QLibrary>
#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#if defined(_WIN32) && !defined(_WIN64)
#define VELMAR_STDCALL __stdcall
#else
#define VELMAR_STDCALL
#endif

namespace velmar {

class ConversionLibrary {
public:
    static constexpr const char* kLibraryName = "qarn_slm1";
    static constexpr const char* kFunctionName = "ConvertSlToXt";
    static constexpr std::size_t kOutputSize = 64;
    static constexpr std::size_t kStatusSize = 10;

    using Output = std::array<char, kOutputSize>;

    // Loads the library from `folder` (the program folder). False when the
    // file or the function is missing; errorString() says which.
    bool load(const QString& folder);
    bool isLoaded() const { return function_ != nullptr; }
    QString errorString() const { return error_; }
    QString filePath() const { return library_.fileName(); }

    // Calls ConvertSlToXt with the line (NUL-terminated copy, its length),
    // an output area preset to `fill` bytes and the status area kept between
    // calls. Throws Fault 48 when no library is loaded.
    Output call(std::string_view line, char fill = ' ');

    // The command in an output area: its text up to the first NUL, 64 bytes
    // at most.
    static std::string commandOf(const Output& out);
    // An answer that contains "ERRO" in any case anywhere in its 64 bytes
    // says the line cannot be converted.
    static bool isRefusal(const Output& out);

private:
    using Function = std::int32_t(VELMAR_STDCALL*)(const char*, std::int32_t, char*, char*);

    QLibrary library_;
    Function function_ = nullptr;
    QString error_;
    std::array<char, kStatusSize> status_{};
    std::string input_;
};

// The start-up check: loads the library from `folder` when not yet loaded,
// converts "SALE,N1,P1000;" and wants "1000H1R" as the first 7 characters.
// A missing library or function shows the installation message; a wrong answer
// returns false without a message.
bool ProbeConversionLibrary(ConversionLibrary& library, const QString& folder, OperatorUi& ui);

// The installation message shown when the library or its function is missing.
QString conversionLibraryMissingText();

} // namespace velmar
