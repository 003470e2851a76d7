#pragma once
// Receipt conversion: the receipt language, its normaliser, the tax-code
// checks, the conversion library and the translator to register commands.

#include "convert/CommandFixes.h"
#include "convert/ConversionLibrary.h"
#include "convert/SlConverter.h"
#include "convert/SlField.h"
#include "convert/SlNormalizer.h"
#include "convert/TaxCodeChecks.h"
