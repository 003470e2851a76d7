#pragma once
// Check-character rules of the Italian tax code (codice fiscale, 16
// characters) and VAT number (partita IVA, 11 digits). Pure functions.

#include <string_view>

namespace velmar {

bool CheckCodiceFiscale(std::string_view sCode);
bool CheckPartitaIva(std::string_view sNumber);

} // namespace velmar
