#include "background_option.h"

#include "native_file.h"

#include <QRegularExpression>
#include <array>
#include <memory>
#include <utility>

namespace {

struct Preset {
    const char* title;
    const char* name;
    GradientStyle (*make)();
};

constexpr std::array<Preset, 6> kPresets{{
    {"cool", "bluePurple", &GradientStyle::bluePurple},
    {"beach", "ocean", &GradientStyle::ocean},
    {"rose", "sunset", &GradientStyle::sunset},
    {"nature", "greenYellow", &GradientStyle::greenYellow},
    {"warm", "warmGlow", &GradientStyle::warmGlow},
    {"dreamy", "dreamyPink", &GradientStyle::dreamyPink},
}};

// #RRGGBB or #RRGGBBAA. QColor reads eight digits as #AARRGGBB, the other
// way round from what people write on the web, so parse it here.
std::optional<QColor> parseHexColor(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^#([0-9a-fA-F]{6})([0-9a-fA-F]{2})?$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const uint rgb = match.captured(1).toUInt(nullptr, 16);
    const int alpha = match.captured(2).isEmpty() ? 255 : match.captured(2).toInt(nullptr, 16);
    return QColor(int(rgb >> 16) & 0xff, int(rgb >> 8) & 0xff, int(rgb) & 0xff, alpha);
}

} // namespace

Result<GradientStyle> parseBackgroundOption(const QString& text)
{
    for (const Preset& preset : kPresets) {
        if (text.compare(QLatin1String(preset.title), Qt::CaseInsensitive) == 0 ||
            text.compare(QLatin1String(preset.name), Qt::CaseInsensitive) == 0)
            return preset.make();
    }
    if (text.startsWith(QLatin1String("image:"))) {
        const QString path = text.mid(6);
        if (path.isEmpty())
            return Result<GradientStyle>::failure(QStringLiteral("image: needs a file name"));
        Result<QImage> picture = loadPicture(path);
        if (!picture.ok())
            return Result<GradientStyle>::failure(path + QStringLiteral(": ") + picture.error());
        return GradientStyle::customImage(
            std::make_shared<const QImage>(std::move(picture).value()));
    }
    if (text.startsWith(QLatin1Char('#'))) {
        QList<QColor> colors;
        for (const QString& part : text.split(QLatin1Char(','))) {
            const auto color = parseHexColor(part);
            if (!color)
                return Result<GradientStyle>::failure(
                    QStringLiteral("'%1' is not a colour").arg(part));
            colors.append(*color);
        }
        if (colors.size() == 1)
            return GradientStyle::customColor(colors.first());
        return GradientStyle::customGradient(colors);
    }
    return Result<GradientStyle>::failure(
        QStringLiteral("there is no style called '%1'").arg(text));
}

QString backgroundOptionHelp()
{
    return QStringLiteral("a style name (cool, beach, rose, nature, warm, dreamy), #RRGGBB[AA], "
                          "colours separated by commas, or image:PATH");
}
