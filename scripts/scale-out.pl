# The part of tarvo-parallel and ostrel-parallel that runs GNU parallel and
# watches it. It is not a program of its own: the build appends it to each
# script's head (scripts/tarvo-parallel, scripts/ostrel-parallel), which
# sets $me and $stop and defines command() before it; a head run from the
# source tree reads it from there.

# quote(WORD): WORD as one word for any shell, with each { set apart from
# what follows it, where parallel would take {} or {=...=} for its own.
sub quote {
    my ($word) = @_;
    $word =~ s/'/'\\''/g;
    $word =~ s/\{/'\\{'/g;
    return "'$word'";
}

# report(FILES): the end of a chunk's job, whose standard error is in the
# file $e. A failing chunk ends its output with \001, which neither program
# writes, then the length of its message and the message itself, which so
# comes out before parallel can be stopped; a later chunk's output is cut
# off there.
sub report {
    my ($files) = @_;
    return 'if [ $s -eq 0 ]; then
    cat "$e" >&2
else
    printf \'\\001%d\\n\' $(wc -c < "$e")
    cat "$e"
fi
rm -f ' . $files . '
exit $s';
}

use Errno;
use File::Path qw(rmtree);
use File::Temp qw(tempdir);
use POSIX qw(_exit SIGINT SIGTERM SIG_BLOCK SIG_SETMASK);

# Whatever parallel leaves behind on this machine goes with this folder.
my $tmp;
END { rmtree($tmp) if $tmp; }

# The children's numbers are theirs until they are reaped, which happens
# only once the copying has ended; till then a signal stops them at once.
my ($copying, $parallel, $feeder) = (0, 0, 0);

sub stop_children {
    kill 'TERM', grep { $_ > 0 } $parallel, $feeder if $copying;
}

# writeall(HANDLE, DATA): writes all of DATA; false with $! set if it
# cannot, or if a signal stops the run while it waits.
sub writeall {
    my ($fh, $data) = @_;
    my $off = 0;
    while ($off < length $data) {
        my $put = syswrite($fh, $data, length($data) - $off, $off);
        if (!defined $put) {
            next if $!{EINTR} && !$stop;
            return 0;
        }
        $off += $put;
    }
    return 1;
}

# spawn(CODE): a child process running CODE, which must not return; it
# starts with the signal handling a new program has.
sub spawn {
    my ($code) = @_;
    my $old = POSIX::SigSet->new;
    POSIX::sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGINT, SIGTERM), $old);
    my $pid = fork;
    if (defined $pid && $pid == 0) {
        $SIG{$_} = 'DEFAULT' for qw(INT TERM PIPE);
        POSIX::sigprocmask(SIG_SETMASK, $old);
        $code->();
        _exit(2);
    }
    POSIX::sigprocmask(SIG_SETMASK, $old);
    return $pid // 0;
}

# The feeder copies standard input to parallel, which would take a read
# error, even "Is a directory", for the end of its input.
sub feed {
    my ($to) = @_;
    while (1) {
        my $got = sysread(STDIN, my $buf, 1 << 20);
        if (!defined $got) {
            next if $!{EINTR};
            print STDERR "$me: Error reading input: $!\n";
            _exit(2);
        }
        _exit(0) if $got == 0;
        writeall($to, $buf) or _exit(3);
    }
}

# status(PID): 0 when the child exited with 0, otherwise 2.
sub status {
    my ($pid) = @_;
    return 2 if $pid <= 0 || waitpid($pid, 0) != $pid;
    return $? == 0 ? 0 : 2;
}

# run(UNIT, PARALLEL-ARGS...): runs GNU parallel on standard input, copies
# its output up to the first failing chunk's marker, and returns the status.
sub run {
    my ($unit, @args) = @_;
    my $user = $ENV{PARALLEL} // '';
    $ENV{PARALLEL} = '';
    if ((`parallel --version 2>/dev/null` // '') !~ /^GNU parallel/) {
        print STDERR "$me: needs GNU parallel (Debian package parallel)\n";
        return 2;
    }
    # Later options win, so the user's PARALLEL overrides this chunk size.
    $ENV{PARALLEL} = "--block 16M $user";
    $ENV{PARALLEL_SHELL} = '/bin/sh';
    $tmp = eval { tempdir("$me.XXXXXX", TMPDIR => 1) };
    if (!$tmp) {
        print STDERR "$me: cannot make a temporary folder: $@";
        return 2;
    }
    $ENV{TMPDIR} = $tmp;

    my ($in_r, $in_w, $out_r, $out_w);
    if (!pipe($in_r, $in_w) || !pipe($out_r, $out_w)) {
        print STDERR "$me: $!\n";
        return 2;
    }
    $SIG{INT} = $SIG{TERM} = sub { $stop = 1; stop_children(); };
    # A closed output pipe shows as EPIPE from the write; the handler, unlike
    # ignoring the signal, does not pass on to the programs parallel runs.
    $SIG{PIPE} = sub {};
    $copying = 1;
    $feeder = spawn(sub { close $_ for $in_r, $out_r, $out_w; feed($in_w); });
    $parallel = spawn(sub {
        open(STDIN, '<&', $in_r) && open(STDOUT, '>&', $out_w) or _exit(2);
        exec('parallel', @args) or print STDERR "$me: cannot run parallel: $!\n";
        _exit(2);
    });
    close $_ for $in_r, $in_w, $out_w;

    # No --halt: now kills chunks still running before the failing one,
    # which leaves a gap in the output, and soon can hang with --pipe.
    # Instead the output is cut at the first failure and parallel gets a
    # TERM, on which it starts no more chunks and ends the running ones.
    my ($lines, $cut, $tail) = (0, '', undef);
    while (1) {
        my $got = sysread($out_r, my $buf, 1 << 16);
        if (!defined $got) {
            next if $!{EINTR};
            print STDERR "$me: Error reading from parallel: $!\n";
            $cut ||= 'read';
            last;
        }
        $cut ||= 'signal' if $stop;
        if (!$cut && defined $tail) {
            $tail .= $buf;
        } elsif (!$cut) {
            my $at = index($buf, "\001");
            my $good = $at < 0 ? $buf : substr($buf, 0, $at);
            $lines += ($good =~ tr/\n//);
            $tail = substr($buf, $at) if $at >= 0;
            if (!writeall(\*STDOUT, $good)) {
                $cut = $stop ? 'signal' : $!{EPIPE} ? 'pipe' : 'write';
                print STDERR "$me: Error writing output: $!\n" if $cut eq 'write';
            }
        }
        # The failing chunk's message, once whole, or what came of it.
        if (!$cut && defined $tail && ($got == 0 ||
                $tail =~ /^\001(\d+)\n/ && length($tail) >= length($&) + $1)) {
            print STDERR $tail =~ /^\001(\d+)\n/ ? substr($tail, length($&), $1) : '';
            printf STDERR "%s: failed at %s %d of the input\n", $me, $unit, $lines + 1;
            $cut = 'chunk';
        }
        stop_children() if $cut;
        last if $got == 0;
    }
    $copying = 0;
    my $ran = status($parallel);
    # Input that parallel no longer reads is not needed: the feeder may be
    # waiting on a terminal.
    kill 'TERM', $feeder if $feeder > 0;
    my $fed = status($feeder);
    if ($cut eq 'pipe') {
        rmtree($tmp);
        $tmp = undef;
        $SIG{PIPE} = 'DEFAULT';
        kill 'PIPE', $$;
    }
    return $cut || $stop || $ran || $fed ? 2 : 0;
}

exit run(command());
