// SPDX-License-Identifier: MIT
// Connecting and logging in: the greeting, TLS, the user and the session's
// settings, in as few round trips as the server takes.
#include "posix/client/ftp_connection.h"

#include "common/transcript.h"
#include "posix/client/queued_commands.h"

namespace quorvane::client {

Outcome<> FtpConnection::connect(Deadline deadline)
{
    const std::string server = serverKey(credentials_.host, credentials_.port);
    const bool queued = takesQueuedCommands(server);
    Outcome<> ready = connectOnce(deadline);
    // Nothing of a log-in acts on files: asking again is safe.
    if (!ready && queued && !takesQueuedCommands(server)) {
        trace::line() << "logging in again, one command at a time";
        ready = connectOnce(deadline);
    }
    return ready;
}

Outcome<> FtpConnection::connectOnce(Deadline deadline)
{
    using text::Security;
    if (credentials_.security != Security::Plain && !tls_ && !(tls_ = TlsContext::create()))
        return tlsFailure(TlsFailure::Protocol, "OpenSSL cannot set up TLS");
    const bool implicit = credentials_.security == Security::ImplicitTls;
    auto opened = ControlConnection::open(credentials_.host, credentials_.port, deadline,
                                          implicit ? tls_.get() : nullptr);
    if (!opened)
        return std::move(opened).failure();
    life_.cameUp(std::move(*opened));
    const DeadlineCap cap(life_, deadline);
    Outcome<> ready = credentials_.security == Security::ExplicitTls ? startTls() : Outcome<>();
    if (ready)
        ready = logInAndPrepare();
    if (!ready)
        life_.drop();  // a QUIT is not owed here
    return ready;
}

Outcome<> FtpConnection::startTls()
{
    // Nothing else is ever sent to a server that will not protect the
    // session: never the user name, never the password.
    auto reply = control().execute("AUTH TLS");
    if (!reply)
        return std::move(reply).failure();
    if (reply->code != 234) {
        Failure refused = refusal(*reply, FailureKind::Tls);
        refused.tls = TlsFailure::Protocol;  // the session cannot be protected
        refused.cause = "the server offers no TLS: it refused AUTH TLS (" + refused.cause + ")";
        return refused;
    }
    return control().startTls(*tls_, credentials_.host);
}

Outcome<> FtpConnection::logInAndPrepare()
{
    // USER goes alone: the password only to a server that asks for it.
    auto user = control().execute("USER " + credentials_.user);
    if (!user)
        return std::move(user).failure();
    // 230 logged in straight away; 202 "not needed" is as good. 332 asks for
    // an account, which we cannot give.
    const bool passwordAsked = user->code == 331;
    if (!passwordAsked && user->code != 230 && user->code != 202)
        return refusal(*user, FailureKind::LogInRefused);
    const std::vector<std::string> commands = setUpCommands(passwordAsked);
    auto ready = control().executeEach(commands, [&](std::size_t i, const Reply& reply) {
        return checkSetUpReply(commands[i], reply);
    });
    if (!ready)
        return ready;
    // Servers such as IIS and Pure-FTPd keep names in a legacy code page
    // until told; told in the queue above where commands go queued.
    if (!control().queues() && learned_.features.utf8) {
        if (auto utf8 = control().execute("OPTS UTF8 ON"); !utf8)
            return std::move(utf8).failure();
    }
    // Taken after the first replies: under TLS 1.3 the server's tickets
    // arrive after the handshake, and a session without one resumes nothing.
    if (tls_)
        tlsSession_ = control().tlsSession();
    return {};
}

std::vector<std::string> FtpConnection::setUpCommands(bool passwordAsked) const
{
    // The order is fixed and no reply changes what follows, so all can go in
    // one write: the server reads them in turn.
    std::vector<std::string> commands;
    if (passwordAsked)
        commands.push_back("PASS " + credentials_.password);
    if (tls_) {
        // Every data connection protected.
        commands.push_back("PBSZ 0");
        commands.push_back("PROT P");
    }
    commands.push_back("TYPE I");
    commands.push_back("FEAT");
    // Asked before FEAT has said whether the server offers it: a server that
    // does not refuses it, and the names we send are UTF-8 either way.
    if (control().queues())
        commands.push_back("OPTS UTF8 ON");
    return commands;
}

Outcome<> FtpConnection::checkSetUpReply(std::string_view command, const Reply& reply)
{
    const std::string_view verb = command.substr(0, command.find(' '));
    if (verb == "PASS" && reply.code != 230 && reply.code != 202)
        return refusal(reply, FailureKind::LogInRefused);
    if ((verb == "PBSZ" || verb == "PROT") && reply.code / 100 != 2)
        return naming(refusal(reply), command);
    if (verb == "TYPE" && !reply.isCompletion())
        return refusal(reply);
    // FEAT is optional (RFC 2389): a refusal just means no extensions.
    if (verb == "FEAT")
        learned_.features = parseFeatures(reply);
    // A refused OPTS UTF8 ON leaves names as the server keeps them.
    return {};
}

}  // namespace quorvane::client
