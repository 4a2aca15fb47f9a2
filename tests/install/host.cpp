// SPDX-License-Identifier: MIT
// A tiny host built against the installed module: links it, calls into it.
#include <Quorvane2.h>

#include <cstdio>

int main()
{
    CQuorvane first;
    CQuorvane second;
    const bool assignmentReturnsLeft = &(first = second) == &first;
    const int answer = fnQuorvane();
    const FTPResult logOut = FTPServerLogOut();
    std::printf("fnQuorvane %d, nQuorvane %d, log-out %d\n", answer, nQuorvane,
                static_cast<int>(logOut));
    return answer == 42 && nQuorvane == 0 && logOut == FTP_RESULT_OK && assignmentReturnsLeft ? 0
                                                                                              : 1;
}
