// kelvra-ctl params: the parameters a user can name, from the settings table, without a camera.
#include <QJsonArray>
#include <QJsonObject>

#include "ctl/ctl_internal.h"
#include "ctl/parameter_names.h"
#include "engine/settings.h"
#include "protocol/parameters.h"

namespace {

// A request of these forms marks its parameters, so the save writes them; the others write to
// the camera themselves or send a command only.
bool MarksForTheSave(const RequestType& type) {
    return type.form == RequestForm::MarkAndWords || type.form == RequestForm::MarkAndArgument ||
           type.form == RequestForm::MarkAndChoice;
}

}  // namespace

int RunParams(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    report.Print(QStringLiteral("%1  %2 %3 %4 %5 %6")
                     .arg(QStringLiteral("IDX"))
                     .arg(QStringLiteral("NAME"), -37)
                     .arg(QStringLiteral("ALIAS"), -41)
                     .arg(QStringLiteral("REQUEST"), -23)
                     .arg(QStringLiteral("SAVE"), -4)
                     .arg(QStringLiteral("VALUES")));
    QJsonArray list, unnamed;
    QStringList ranges;  // the unnamed indexes, runs joined: "0, 8-13"
    for (int index = 0; index < kReadableParameterCount; ++index) {
        if (!IsNamedParameter(index)) {
            const bool follows = !unnamed.isEmpty() && unnamed.last().toInt() == index - 1;
            if (follows)
                ranges.last() = ranges.last().section('-', 0, 0) + '-' + QString::number(index);
            else
                ranges << QString::number(index);
            unnamed.append(index);
            continue;
        }
        const ParameterRule* rule = FindParameterRule(index);
        const RequestType* type = rule != nullptr ? FindRequestType(rule->request) : nullptr;
        // Without a request of its own a parameter is only marked, and the save writes it.
        const bool saved = type == nullptr || MarksForTheSave(*type);
        const QString takes = rule != nullptr ? QLatin1String(rule->takes) : QStringLiteral("0 to 65535");
        const QString alias = QString::fromStdString(ParameterAlias(index));
        const QString request = type != nullptr ? QLatin1String(type->what) : QStringLiteral("-");
        report.Print(QStringLiteral("%1  %2 %3 %4 %5 %6")
                         .arg(index, 3)
                         .arg(Name(index), -37)
                         .arg(alias, -41)
                         .arg(request, -23)
                         .arg(saved ? QStringLiteral("yes") : QStringLiteral("no"), -4)
                         .arg(takes));
        QJsonObject entry{{QStringLiteral("index"), index},
                          {QStringLiteral("name"), Name(index)},
                          {QStringLiteral("alias"), alias},
                          {QStringLiteral("takes"), takes},
                          {QStringLiteral("request"), type != nullptr ? QJsonValue(request) : QJsonValue()},
                          {QStringLiteral("saveWrites"), saved}};
        if (rule != nullptr && rule->choiceCount > 0) {
            QJsonArray choices;
            for (int i = 0; i < rule->choiceCount; ++i)
                choices.append(rule->choices[i]);
            entry.insert(QStringLiteral("choices"), choices);
        } else {
            entry.insert(QStringLiteral("low"), rule != nullptr ? rule->low : 0);
            entry.insert(QStringLiteral("high"), rule != nullptr ? rule->high : 65535);
        }
        list.append(entry);
    }
    report.Print(
        QStringLiteral("\nWithout a name (%1 more, each 0 to 65535): %2. `get INDEX` reads one; only a "
                       "save writes one (`set INDEX=VALUE --save`).")
            .arg(unnamed.size())
            .arg(ranges.join(QStringLiteral(", "))));
    report.Put(QStringLiteral("parameters"), list);
    report.Put(QStringLiteral("unnamed"), unnamed);
    return kExitDone;
}
