#pragma once
// Windows-1252, the workstation's single-byte code page. Data stays in bytes
// everywhere; these two functions exist only for showing bytes to a person
// (windows, logs) and for turning an operator's typed text back into bytes.

#include <QByteArray>
#include <QString>
#include <string_view>

namespace velmar::cp1252 {

QString decode(std::string_view bytes);
inline QString decode(const QByteArray& bytes) {
    return decode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// Characters the code page cannot hold become '?'.
QByteArray encode(const QString& text);

} // namespace velmar::cp1252
