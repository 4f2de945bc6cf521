#pragma once
// Recipes: the facetta-cli command line that makes a picture again, as text a user can keep,
// share, run in a terminal or paste back into a window. A recipe is only ever parsed here,
// never handed to a shell.
#include <QString>
#include <QStringList>

#include <cstdint>

#include "image_settings.h"

// Texts longer than this are no recipe (a real one is well under 1 KiB).
constexpr qsizetype kMaxRecipeLength = 16384;

// Every setting and the seed, options in the CLI's order; the background picture's path is
// quoted for a POSIX shell.
QString MakeRecipe(const ImageSettings& settings, uint32_t seed);

// A word quoted so that a POSIX shell reads it back unchanged.
QString ShellQuote(const QString& word);

// Splits one simple command into words the way a POSIX shell would (quotes, backslashes,
// line continuations), but refuses anything a shell would expand, redirect, run or treat as
// a comment. False with `error` set when the text is not such a plain command.
bool SplitCommandLine(const QString& text, QStringList& words, QString& error);

struct Recipe {
    ImageSettings settings;  // what facetta-cli would draw, colours included
    uint32_t nSeed = 0;
    bool bSeedGiven = false;  // without --seed a fresh one was drawn, as the CLI does
    QString backImage;        // the background picture's path as written (may be missing)
};

// Reads a recipe with facetta-cli's own option parser. False with `error` (one line saying
// why) when the text is not a recipe: not a facetta-cli command, unknown options, bad values,
// or options that ask for something other than a picture (help, version, mesh, count).
bool ParseRecipe(const QString& text, Recipe& recipe, QString& error);
