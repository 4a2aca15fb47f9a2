// SPDX-License-Identifier: MIT
// Quorvane2 from C# with P/Invoke: log in, list a folder and read the
// listing file, download a file, upload it back under another name, make one
// call fail on purpose and read why, log out.
//
//   mcs -out:Example.exe Example.cs && mono Example.exe SERVER USER FOLDER REMOTE-FILE LOCAL-FILE
//
// The password comes from standard input (a prompt without echo on a
// terminal), never the command line, where every local user can read it.
//
// Environment: QUORVANE_DEVICE_ROOT, the device root; QUORVANE_TRACE, the
// transcript to read causes from (set it before starting the program: .NET
// may keep its own copy of the environment, which the library never sees).
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

static class Quorvane2
{
    // "Quorvane2" is Quorvane2.dll on Windows; on Linux, Example.exe.config
    // maps it to the runtime package's libQuorvane2.so.0 for mono (on .NET,
    // name "libQuorvane2.so.0" here or resolve it with NativeLibrary).
    const string Library = "Quorvane2";
    public const int OK = 999;

    // CharSet.Unicode: strings cross as NUL-terminated UTF-16, as the library
    // takes them, on every platform.
    [DllImport(Library, CharSet = CharSet.Unicode)]
    public static extern int FTPServerLogIn(string server, string user, string password);
    [DllImport(Library)]
    public static extern int FTPServerLogOut();
    [DllImport(Library, CharSet = CharSet.Unicode)]
    public static extern int FTPServerFiles(IntPtr first, IntPtr second, IntPtr third, string folder);
    [DllImport(Library, CharSet = CharSet.Unicode)]
    public static extern int FTPFileDownload(string localFile, string remoteFile);
    [DllImport(Library, CharSet = CharSet.Unicode)]
    public static extern int FTPFileUpload(string localFile, string remoteFile);
    [DllImport(Library, CharSet = CharSet.Unicode)]
    public static extern int FTPFileDelete(string remoteFile);
}

// Causes from the transcript: lines "[SECONDS] EVENT"; "cause: TEXT" says why
// something failed, written by a failed call before its "call ..." line.
class Transcript
{
    readonly string path;
    long mark;

    public Transcript(string path) { this.path = path; }

    public void BeforeCall() { mark = File.Exists(path) ? new FileInfo(path).Length : 0; }

    public string LastCause()
    {
        if (!File.Exists(path))
            return null;
        using (var stream = new FileStream(path, FileMode.Open, FileAccess.Read, FileShare.ReadWrite))
        {
            stream.Seek(mark, SeekOrigin.Begin);
            string cause = null;
            foreach (var line in new StreamReader(stream, Encoding.UTF8).ReadToEnd().Split('\n'))
            {
                var stamp = line.IndexOf("] ", StringComparison.Ordinal);
                var evt = stamp < 0 ? line : line.Substring(stamp + 2);
                if (evt.StartsWith("cause: ", StringComparison.Ordinal))
                    cause = evt.Substring("cause: ".Length);
            }
            return cause;
        }
    }
}

static class Example
{
    // From standard input: typed without echo on a terminal, else its first line.
    static string ReadPassword()
    {
        if (Console.IsInputRedirected)
            return Console.ReadLine() ?? "";
        Console.Error.Write("Password: ");
        var typed = new StringBuilder();
        for (var key = Console.ReadKey(true); key.Key != ConsoleKey.Enter; key = Console.ReadKey(true))
        {
            if (key.Key == ConsoleKey.Backspace && typed.Length > 0)
                typed.Length--;
            else if (!char.IsControl(key.KeyChar))
                typed.Append(key.KeyChar);
        }
        Console.Error.WriteLine();
        return typed.ToString();
    }

    static int Main(string[] args)
    {
        if (args.Length != 5)
        {
            Console.Error.WriteLine("usage: Example.exe SERVER USER FOLDER REMOTE-FILE LOCAL-FILE " +
                                    "(the password on standard input)");
            return 2;
        }
        // Names beyond ASCII print as themselves whatever the locale says
        // (mono takes the console's encoding from it, ASCII where none is set).
        Console.OutputEncoding = new UTF8Encoding(false);
        string server = args[0], user = args[1], folder = args[2], remote = args[3],
               local = args[4];
        var password = ReadPassword();
        var trace = Environment.GetEnvironmentVariable("QUORVANE_TRACE");
        var transcript = string.IsNullOrEmpty(trace) ? null : new Transcript(trace);
        var deviceRoot = Environment.GetEnvironmentVariable("QUORVANE_DEVICE_ROOT") ?? "/";

        Func<string, Func<int>, bool> call = (name, run) =>
        {
            transcript?.BeforeCall();
            var result = run();
            var cause = result == Quorvane2.OK ? "" :
                " (" + (transcript?.LastCause() ?? "no cause written") + ")";
            Console.WriteLine(name + ": " + result + cause);
            return result == Quorvane2.OK;
        };
        Func<string, string> devicePath = p =>
            Path.Combine(deviceRoot, p.Replace('\\', '/').TrimStart('/'));

        if (!call("FTPServerLogIn", () => Quorvane2.FTPServerLogIn(server, user, password)))
            return 1;
        var ok = call("FTPServerFiles",
                      () => Quorvane2.FTPServerFiles(IntPtr.Zero, IntPtr.Zero, IntPtr.Zero, folder));
        if (ok)
        {
            // Three lines an entry: the name, " SIZE    ", the local time.
            var lines = File.ReadAllText(Path.Combine(deviceRoot, "FTPFolder.txt"), Encoding.UTF8)
                            .Split('\n');
            for (var i = 0; i + 2 < lines.Length; i += 3)
                Console.WriteLine("  {0,-30} {1,12}  {2}", lines[i], lines[i + 1].Trim(), lines[i + 2]);
        }
        ok = call("FTPFileDownload", () => Quorvane2.FTPFileDownload(local, remote)) && ok;
        if (ok)
        {
            Console.WriteLine("  {0} bytes in {1}", new FileInfo(devicePath(local)).Length, local);
            ok = call("FTPFileUpload", () => Quorvane2.FTPFileUpload(local, remote + ".copy")) && ok;
        }
        // On purpose: a file that is not there. The cause is the server's reply.
        var failedAsExpected = !call("FTPFileDelete",
                                     () => Quorvane2.FTPFileDelete("no-such-file-for-the-example"));
        call("FTPServerLogOut", Quorvane2.FTPServerLogOut);
        return ok && failedAsExpected ? 0 : 1;
    }
}
