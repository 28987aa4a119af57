// The option parser of the Qt builds: QCommandLineParser.
#include "framework/cmdline.h"

#include <QCommandLineParser>
#include <QStringList>

namespace {

// Latin-1 carries every byte through unchanged, so a file name that is not UTF-8 survives.
QString FromBytes(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ToBytes(const QString& s)
{
    return s.toLatin1().toStdString();
}

} // namespace

TCommandLine::TScan TCommandLine::Scan(const std::vector<std::string>& args) const
{
    QCommandLineParser parser;
    // "-port" is "--port"; without this it would read as -p -o -r -t.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const TOptionDef& def : Defs) {
        QStringList names;
        for (const std::string& n : def.Names)
            names << FromBytes(n);
        parser.addOption(def.TakesValue ? QCommandLineOption(names, QString(), QStringLiteral("value"))
                                        : QCommandLineOption(names));
    }
    QStringList list{FromBytes(Program)};
    for (const std::string& a : args)
        list << FromBytes(a);
    TScan scan;
    if (!parser.parse(list)) {
        const QStringList unknown = parser.unknownOptionNames();
        scan.Ok = false;
        scan.Unknown = unknown.isEmpty() ? std::string() : ToBytes(unknown.first());
        scan.ErrorText = ToBytes(parser.errorText());
        return scan;
    }
    // The values of an option come in order, one per mention; its names share them.
    std::vector<qsizetype> used(Defs.size(), 0);
    for (const QString& found : parser.optionNames()) {
        const TOptionDef* def = Find(ToBytes(found));
        std::string value;
        if (def->TakesValue)
            value = ToBytes(parser.values(found).value(used[size_t(def - Defs.data())]++));
        scan.Found.emplace_back(ToBytes(found), value);
    }
    for (const QString& p : parser.positionalArguments())
        scan.Positional.push_back(ToBytes(p));
    return scan;
}
