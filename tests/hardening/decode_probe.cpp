// Decodes one file the way a preview window loads its background picture and says what came
// out: "decoded: <w>x<h>" or "decoded: none (<why>)". With a frame size the picture is decoded
// for that frame, as the program and the CLI do. Run as its own process so its peak memory can
// be measured.
//   decode_probe <file> [<frame width> <frame height>]
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "picture_image.h"
#include "picture_memory.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 4) return 2;
    ConfigurePictureMemoryLimit();
    const int width = argc == 4 ? std::atoi(argv[2]) : 0;
    const int height = argc == 4 ? std::atoi(argv[3]) : 0;
    const DecodedPicture decoded =
        DecodeBackgroundPicture(QString::fromLocal8Bit(argv[1]), width, height);
    if (decoded.picture) {
        std::printf("decoded: %dx%d\n", decoded.picture->Width(), decoded.picture->Height());
    } else {
        const char* why[] = {"", "not a file", "not decodable", "too large"};
        std::printf("decoded: none (%s)\n", why[static_cast<int>(decoded.error)]);
    }
    return 0;
}
