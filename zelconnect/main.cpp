#include "runprogram.h"
#include "zelconnectwindow.h"

int main(int argc, char* argv[]) {
    const ProgramAbout about{
        QStringLiteral("Zel_Connect"), QStringLiteral(ZEL_VERSION),
        QStringLiteral(
            "A serial-line tool for a color-sensing device on an RS-232 port: connect to\n"
            "it, send a text line or hex bytes, read its answers; readings marked R, G\n"
            "and B are evaluated, named as a color, plotted and logged."),
        true};
    return runProgram(argc, argv, about, [] { return std::make_unique<ZelConnectWindow>(); });
}
