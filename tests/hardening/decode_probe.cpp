// Decodes one file the way a preview window loads its background picture and says what came
// out: "decoded: <w>x<h>" or "decoded: none". Run as its own process so its peak memory can be
// measured.
#include <QCoreApplication>

#include <cstdio>

#include "picture_image.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    const std::optional<Picture> picture = DecodePictureFile(QString::fromLocal8Bit(argv[1]));
    if (picture)
        std::printf("decoded: %dx%d\n", picture->Width(), picture->Height());
    else
        std::printf("decoded: none\n");
    return 0;
}
