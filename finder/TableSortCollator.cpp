// The locale-aware comparison behind localeCompare(); the only Qt in the table rules.
#include <QCollator>
#include <memory>

#include "TableSort.h"
#include "qtext.h"

TextCompare localeCompare() {
    auto collator = std::make_shared<QCollator>(QLocale());
    collator->setCaseSensitivity(Qt::CaseInsensitive);
    return [collator](const std::string& a, const std::string& b) {
        return collator->compare(toQ(a), toQ(b));
    };
}
