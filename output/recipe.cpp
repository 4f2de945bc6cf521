#include "recipe.h"

#include <QFileInfo>

#include "cli_options.h"
#include "random.h"

namespace {

const QString kProgram = QStringLiteral("facetta-cli");

QString Hex(COLORREF c) {
    return QStringLiteral("%1%2%3")
        .arg(GetRValue(c), 2, 16, QLatin1Char('0'))
        .arg(GetGValue(c), 2, 16, QLatin1Char('0'))
        .arg(GetBValue(c), 2, 16, QLatin1Char('0'))
        .toUpper();
}

bool IsBinary(const QString& text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0x7F || u == 0xFFFD)
            return true;
    }
    return false;
}

}  // namespace

QString ShellQuote(const QString& word) {
    static const QString kSafe = QStringLiteral("+-./:=@_,%");
    bool bPlain = !word.isEmpty();
    for (QChar c : word)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && !kSafe.contains(c)) bPlain = false;
    if (bPlain) return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString MakeRecipe(const ImageSettings& s, uint32_t seed) {
    QStringList words{kProgram};
    auto add = [&words](const char* option, const QString& value) {
        words << QString::fromLatin1(option) << value;
    };
    add("--width", QString::number(s.nWidth));
    add("--height", QString::number(s.nHeight));
    add("--resolution", QString::number(s.nResolution));
    add("--quality", QString::number(s.nQuality));
    add("--mode", QString::number(s.nBackMode));
    add("--back-color", Hex(s.crBackColor));
    add("--grad-color1", Hex(s.crGradColor1));
    add("--grad-color2", Hex(s.crGradColor2));
    const QString back = QString::fromStdU16String(s.BackImagePath());
    if (!back.isEmpty()) add("--back-image", ShellQuote(back));
    add("--poly-size", QString::number(s.nPolySize));
    add("--poly-color", Hex(s.crPolyColor));
    add("--start-opacity", QString::number(s.nStartOpacity));
    add("--end-opacity", QString::number(s.nEndOpacity));
    add("--line-color", Hex(s.crLineColor));
    add("--line-opacity", QString::number(s.nLineOpacity));
    add("--seed", QString::number(seed));
    return words.join(QLatin1Char(' '));
}

bool SplitCommandLine(const QString& text, QStringList& words, QString& error) {
    words.clear();
    QString word;
    bool bInWord = false;
    auto endWord = [&] {
        if (bInWord) words << word;
        word.clear();
        bInWord = false;
    };
    auto refuse = [&error](const QString& why) {
        error = why;
        return false;
    };
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\')) {
            if (i + 1 < n && text[i + 1] == QLatin1Char('\n')) {
                ++i;  // a line continuation joins the lines
                continue;
            }
            if (i + 2 < n && text[i + 1] == QLatin1Char('\r') && text[i + 2] == QLatin1Char('\n')) {
                i += 2;
                continue;
            }
            if (i + 1 >= n) return refuse(QStringLiteral("结尾有一个多余的反斜杠"));
            word += text[++i];
            bInWord = true;
        } else if (c == QLatin1Char('\'')) {
            const qsizetype end = text.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0) return refuse(QStringLiteral("单引号没有结束"));
            word += text.mid(i + 1, end - i - 1);
            bInWord = true;
            i = end;
        } else if (c == QLatin1Char('"')) {
            bInWord = true;
            for (++i;; ++i) {
                if (i >= n) return refuse(QStringLiteral("双引号没有结束"));
                const QChar d = text[i];
                if (d == QLatin1Char('"')) break;
                if (d == QLatin1Char('$') || d == QLatin1Char('`'))
                    return refuse(QStringLiteral("含有 shell 会展开的“%1”").arg(d));
                if (d == QLatin1Char('\\') && i + 1 < n &&
                    QStringLiteral("\\\"$`\n").contains(text[i + 1])) {
                    if (text[++i] != QLatin1Char('\n')) word += text[i];
                    continue;
                }
                word += d;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
                   c == QChar(0x00A0) || c == QChar(0x3000)) {
            // Chat programs and input methods turn spaces into no-break or ideographic ones.
            endWord();
        } else if (c == QLatin1Char('\n')) {
            // Another line is another command, unless nothing follows.
            if (!text.mid(i).trimmed().isEmpty()) return refuse(QStringLiteral("含有不止一条命令"));
            endWord();
        } else if (QStringLiteral(";&|<>()`$").contains(c)) {
            return refuse(QStringLiteral("含有 shell 的“%1”，配方只是一条命令和它的选项").arg(c));
        } else if (QStringLiteral("*?[]{}~!").contains(c)) {
            return refuse(QStringLiteral("含有 shell 会展开的“%1”").arg(c));
        } else if (c == QLatin1Char('#') && !bInWord) {
            return refuse(QStringLiteral("含有 shell 注释“#”"));
        } else {
            word += c;
            bInWord = true;
        }
    }
    endWord();
    return true;
}

bool ParseRecipe(const QString& text, Recipe& recipe, QString& error) {
    if (text.trimmed().isEmpty()) {
        error = QStringLiteral("剪贴板里没有文字");
        return false;
    }
    if (text.size() > kMaxRecipeLength) {
        error = QStringLiteral("文字太长（%1 个字符），配方不会超过 %2 个字符")
                    .arg(text.size())
                    .arg(kMaxRecipeLength);
        return false;
    }
    if (IsBinary(text)) {
        error = QStringLiteral("文字里有控制字符或无法识别的字节");
        return false;
    }
    QStringList words;
    if (!SplitCommandLine(text.trimmed(), words, error)) return false;
    if (words.isEmpty() || QFileInfo(words.constFirst()).fileName() != kProgram) {
        error = QStringLiteral("这不是 facetta-cli 的命令行（它以“%1”开头）")
                    .arg(words.value(0).left(40));
        return false;
    }

    CliOptions o;
    o.settings = DefaultSettings();
    QString helpText;
    switch (ParseCliArguments(words, o, error, helpText)) {
        case CliParse::Error:
            return false;
        case CliParse::Exit0:
            error = QStringLiteral("它只要求帮助或版本，不生成图片");
            return false;
        case CliParse::Run:
            break;
    }
    if (o.meshJson) {
        error = QStringLiteral("--mesh-json 输出网格而不是图片");
        return false;
    }
    if (o.count != 1) {
        error = QStringLiteral("--count %1 生成多张图片，配方只描述一张").arg(o.count);
        return false;
    }
    if (o.backImage.size() >= kBackImagePathLength) {
        error = QStringLiteral("背景图的路径超过 %1 个字符").arg(kBackImagePathLength - 1);
        return false;
    }
    recipe.bSeedGiven = o.seed.has_value();
    recipe.nSeed = o.seed ? *o.seed : FreshSeed();
    PickSeedColors(o, recipe.nSeed);
    recipe.settings = o.settings;
    recipe.backImage = o.backImage;
    return true;
}
