/* SPDX-License-Identifier: MIT */
/*
 * The shortest path to calling Quorvane2 from C: log in, list a folder,
 * download a file, log out, printing each result (999 is success).
 *
 *   cc -std=c11 -o example example.c $(pkg-config --cflags --libs quorvane2)
 *   ./example SERVER USER FOLDER REMOTE-FILE LOCAL-FILE
 *
 * The password comes from standard input (a prompt without echo on a
 * terminal), never the command line, where every local user can read it.
 *
 * SERVER is HOST, ftp://HOST[:PORT], ftpes://HOST[:PORT] (explicit TLS) or
 * ftps://HOST[:PORT] (implicit TLS). The listing lands in the device's
 * listing file "\FTPFolder.txt"; LOCAL-FILE is a path of the device's file
 * system (QUORVANE_DEVICE_ROOT names the host folder it lies in).
 */
#define _POSIX_C_SOURCE 200809L /* termios, isatty */

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <uchar.h>
#include <unistd.h>

#include <Quorvane2.h>

/* The library takes UTF-16: a command-line argument (UTF-8) made wide. */
static char16_t* widen(const char* text)
{
    const size_t length = strlen(text);
    char16_t* wide = calloc(length + 1, sizeof *wide);
    mbstate_t state = {0};
    size_t used = 0;
    const char* at = text;
    const char* end = text + length;
    while (wide && at < end) {
        char16_t unit;
        const size_t step = mbrtoc16(&unit, at, (size_t)(end - at), &state);
        if (step == (size_t)-1 || step == (size_t)-2) { /* not UTF-8 */
            free(wide);
            return NULL;
        }
        if (step != (size_t)-3) /* -3: the second half of a surrogate pair, no input used */
            at += step == 0 ? 1 : step;
        wide[used++] = unit;
    }
    return wide;
}

/* The password: typed without echo on a terminal, else standard input's
 * first line. */
static char* readPassword(char* line, size_t size)
{
    struct termios saved, quiet;
    const int terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        fputs("Password: ", stderr);
        quiet = saved;
        quiet.c_lflag &= ~(tcflag_t)ECHO;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    char* got = fgets(line, (int)size, stdin);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        fputs("\n", stderr);
    }
    if (got)
        line[strcspn(line, "\r\n")] = '\0';
    return got;
}

static int report(const char* call, FTPResult result)
{
    printf("%s: %d%s\n", call, (int)result, result == FTP_RESULT_OK ? " (success)" : "");
    return result == FTP_RESULT_OK;
}

int main(int argc, char** argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: %s SERVER USER FOLDER REMOTE-FILE LOCAL-FILE "
                        "(the password on standard input)\n", argv[0]);
        return 2;
    }
    setlocale(LC_ALL, "C.UTF-8");
    char line[1024];
    if (!readPassword(line, sizeof line)) {
        fprintf(stderr, "no password on standard input\n");
        return 2;
    }
    /* server, user, password, folder, remote file, local file */
    const char* texts[6] = {argv[1], argv[2], line, argv[3], argv[4], argv[5]};
    char16_t* args[6];
    for (int i = 0; i < 6; ++i) {
        if (!(args[i] = widen(texts[i]))) {
            fprintf(stderr, "argument %d is not UTF-8\n", i + 1);
            return 2;
        }
    }
    memset(line, 0, sizeof line);

    int ok = report("FTPServerLogIn", FTPServerLogIn(args[0], args[1], args[2]));
    if (ok) {
        ok = report("FTPServerFiles", FTPServerFiles(NULL, NULL, NULL, args[3])) && ok;
        ok = report("FTPFileDownload", FTPFileDownload(args[5], args[4])) && ok;
    }
    report("FTPServerLogOut", FTPServerLogOut());

    for (int i = 0; i < 6; ++i)
        free(args[i]);
    return ok ? 0 : 1;
}
