#include "ctl/parameter_names.h"

#include <QRegularExpression>
#include <algorithm>
#include <vector>

#include "engine/settings.h"
#include "protocol/parameters.h"

namespace {

constexpr char kUnknownName[] = "Unknown Parameter";
constexpr int kClosestShown = 3;

int EditDistance(const QString& a, const QString& b) {
    std::vector<int> row(static_cast<size_t>(b.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[static_cast<size_t>(j)];
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[static_cast<size_t>(j)] =
                std::min({above + 1, row[static_cast<size_t>(j - 1)] + 1, diagonal + cost});
            diagonal = above;
        }
    }
    return row.back();
}

// How far `given` is from the name `known`: a name it begins or is part of comes close.
int Closeness(const QString& given, const QString& known) {
    if (!given.isEmpty() && known.contains(given))
        return 1;
    return std::min(EditDistance(given, known), EditDistance(given, known.left(given.size())) + 1);
}

bool ParseNumber(const QString& text, int limit, int* out) {
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    if (hex ? text.size() == 2 : text.isEmpty() || !text[0].isDigit())
        return false;
    const uint number = hex ? text.mid(2).toUInt(&ok, 16) : text.toUInt(&ok, 10);
    if (!ok || number > static_cast<uint>(limit))
        return false;
    *out = static_cast<int>(number);
    return true;
}

QString Alias(const QString& text) {
    return QString::fromStdString(AliasOf(text.toUtf8().constData()));
}

}  // namespace

int FindParameter(const QString& text, QString* error) {
    const QString given = text.trimmed();
    static const QRegularExpression number(QStringLiteral("^(0[xX][0-9a-fA-F]+|[0-9]+)$"));
    int index = 0;
    if (number.match(given).hasMatch()) {
        if (ParseNumber(given, kReadableParameterCount - 1, &index))
            return index;
        *error = QStringLiteral("\"%1\" is no parameter index: indices run from 0 to %2")
                     .arg(given)
                     .arg(kReadableParameterCount - 1);
        return -1;
    }
    const QString alias = Alias(given);
    if (alias == QString::fromStdString(AliasOf(kUnknownName))) {
        *error =
            QStringLiteral("\"%1\" names many parameters: give the index of the one you mean").arg(given);
        return -1;
    }
    struct Candidate {
        int distance;
        int index;
    };
    std::vector<Candidate> candidates;
    for (int i = 0; i < kReadableParameterCount; ++i) {
        if (!IsNamedParameter(i))
            continue;
        const QString known = QString::fromStdString(ParameterAlias(i));
        if (known == alias)
            return i;
        candidates.push_back({Closeness(alias, known), i});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
    // A name far from every known one gets no suggestions: they would only mislead.
    const int nearEnough = std::max(2, static_cast<int>(alias.size()) / 3);
    QStringList closest;
    for (size_t i = 0; i < candidates.size() && i < kClosestShown && candidates[i].distance <= nearEnough;
         ++i) {
        const int known = candidates[i].index;
        closest.append(
            QStringLiteral("%1 (%2)").arg(QString::fromStdString(ParameterAlias(known))).arg(known));
    }
    *error = closest.isEmpty()
                 ? QStringLiteral("unknown parameter \"%1\" (kelvra-ctl params lists them)").arg(given)
                 : QStringLiteral("unknown parameter \"%1\"; the closest names are %2")
                       .arg(given, closest.join(", "));
    return -1;
}

bool ParseParameterValue(const QString& text, uint16_t* value) {
    int number = 0;
    if (!ParseNumber(text.trimmed(), 65535, &number))
        return false;
    *value = static_cast<uint16_t>(number);
    return true;
}

bool IsNamedParameter(int index) {
    return QLatin1String(ParameterName(static_cast<unsigned>(index))) != QLatin1String(kUnknownName);
}
