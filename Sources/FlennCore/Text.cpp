#include "Text.h"

#include <memory>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

namespace flenn::Text {

namespace {

std::string utf8(const icu::UnicodeString &text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
}

// Collators are not safe to share between threads; each worker keeps its own.
icu::Collator *fileBrowserCollator() {
    thread_local std::unique_ptr<icu::Collator> collator = [] {
        // Without a LANG (the C or POSIX locale) ICU picks en_US_POSIX, whose collation is byte
        // order: upper case before lower case. A file browser never orders that way, so take the
        // root collation there.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string_view(locale.getVariant()) == "POSIX")
            locale = icu::Locale::getRoot();
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (made) {
            made->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
            made->setStrength(icu::Collator::SECONDARY);
        }
        return made;
    }();
    return collator.get();
}

// The C and POSIX locales mean "no preference" rather than "no digit grouping": numbers then
// read as in English (1,234,567).
icu::Locale numberLocale() {
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getName()) == "en_US_POSIX")
        return icu::Locale::getUS();
    return locale;
}

} // namespace

std::string repairedUTF8(std::string_view bytes) { return utf8(unicode(bytes)); }

std::string folded(std::string_view name) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2 *nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString text = unicode(name);
    if (U_SUCCESS(status))
        text = nfc->normalize(text, status);
    return utf8(text.toLower(icu::Locale::getRoot()));
}

int compareLikeFileBrowser(std::string_view a, std::string_view b) {
    icu::Collator *collator = fileBrowserCollator();
    if (!collator)
        return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult order = collator->compareUTF8(icu::StringPiece(a.data(), int32_t(a.size())),
                                                   icu::StringPiece(b.data(), int32_t(b.size())), status);
    if (U_FAILURE(status))
        return a.compare(b);
    return order;
}

std::string groupedInteger(std::int64_t value) {
    UErrorCode status = U_ZERO_ERROR;
    auto formatted = icu::number::NumberFormatter::withLocale(numberLocale()).formatInt(value, status);
    std::string result = utf8(formatted.toString(status));
    return U_SUCCESS(status) ? result : std::to_string(value);
}

std::string plainNumber(double value) {
    UErrorCode status = U_ZERO_ERROR;
    auto formatted = icu::number::NumberFormatter::withLocale(numberLocale()).formatDouble(value, status);
    std::string result = utf8(formatted.toString(status));
    return U_SUCCESS(status) ? result : std::to_string(value);
}

} // namespace flenn::Text
