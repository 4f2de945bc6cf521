#pragma once
// What the command line asks for, parsed and checked before anything is made.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "image_settings.h"

struct CliOptions {
    ImageSettings settings;        // every field the user gave; defaults elsewhere
    bool colorsGiven[3] = {};      // back, grad1, grad2: the rest are drawn from the seed
    std::optional<uint32_t> seed;  // fixed mesh seed
    int count = 1;
    QString output = QStringLiteral("facetta.png");
    QString backImage;  // full path as typed (the record holds at most 259 units)
    bool meshJson = false;
    bool outputGiven = false;   // -o was on the command line
    bool setWallpaper = false;  // also set the picture as the desktop background
    bool span = false;          // ... as one picture over all screens
    QStringList notes;          // clamping messages for stderr
};

enum class CliParse { Run, Exit0, Error };

// Parses the arguments (program name first). On Error, `error` holds one line for stderr;
// on Exit0, `text` holds what to print on stdout (help or version).
CliParse ParseCliArguments(const QStringList& arguments, CliOptions& options, QString& error,
                           QString& text);

// Name of picture `index` (0-based) of `count` written to `path`: out.png, or out-001.png
// and so on when there are several.
QString NumberedPath(const QString& path, int index, int count);

// Draws the colours the options left unset from the seed rather than the clock, so that the
// seed alone makes the same picture again.
void PickSeedColors(CliOptions& options, uint32_t seed);
