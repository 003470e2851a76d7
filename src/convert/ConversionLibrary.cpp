#include "convert/ConversionLibrary.h"

#include "common/Fault.h"
#include "common/TextRules.h"

#include <QDir>
#include <algorithm>
#include <cstring>
#include <limits>

namespace velmar {

bool ConversionLibrary::load(const QString& folder) {
    function_ = nullptr;
    if (library_.isLoaded()) {
        library_.unload();
    }
    library_.setFileName(QDir(folder).filePath(QString::fromLatin1(kLibraryName)));
    if (!library_.load()) {
        error_ = library_.errorString();
        return false;
    }
    function_ = reinterpret_cast<Function>(library_.resolve(kFunctionName));
    if (function_ == nullptr) {
        error_ = library_.errorString();
        return false;
    }
    error_.clear();
    return true;
}

ConversionLibrary::Output ConversionLibrary::call(std::string_view line, char fill) {
    if (function_ == nullptr) {
        throw Fault(faultno::DllLoad);
    }
    Output out;
    out.fill(fill);
    input_.assign(line);
    const auto length = static_cast<std::int32_t>(
        std::min<std::size_t>(line.size(), std::numeric_limits<std::int32_t>::max()));
    function_(input_.c_str(), length, out.data(), status_.data());
    return out;
}

std::string ConversionLibrary::commandOf(const Output& out) {
    const void* nul = std::memchr(out.data(), '\0', out.size());
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - out.data()) : out.size();
    return std::string(out.data(), n);
}

bool ConversionLibrary::isRefusal(const Output& out) {
    return text::findNoCase(std::string_view(out.data(), out.size()), "ERRO") != 0;
}

QString conversionLibraryMissingText() {
    return QStringLiteral(
        "ATTENZIONE: DLL QARN.. non presenti, ripetere e verificare l'installazione");
}

bool ProbeConversionLibrary(ConversionLibrary& library, const QString& folder, OperatorUi& ui) {
    if (!library.isLoaded() && !library.load(folder)) {
        ui.message(conversionLibraryMissingText());
        return false;
    }
    const ConversionLibrary::Output out = library.call("SALE,N1,P1000;", '\0');
    return std::string_view(out.data(), 7) == "1000H1R";
}

} // namespace velmar
