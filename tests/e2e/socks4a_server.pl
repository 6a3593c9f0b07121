#!/usr/bin/perl
# A SOCKS4a server for the tests on 127.0.0.1 (IO::Socket::Socks): it takes only
# requests that name their target (the 4a form, address 0.0.0.x and a host
# name), resolves the name itself and connects only to this machine. A tunnel
# through it is proof that a client sent the name, not an address it looked up.
#   socks4a_server.pl PORT
use strict;
use warnings;
use IO::Select;
use IO::Socket::INET;
use IO::Socket::Socks qw(:constants $SOCKS_ERROR);

$IO::Socket::Socks::SOCKS4_RESOLVE = 1;    # read the 4a form's name
my $port = shift or die "usage: $0 PORT\n";
$SIG{CHLD} = 'IGNORE';
my $server = IO::Socket::Socks->new(
  SocksVersion => 4,
  ProxyAddr    => '127.0.0.1',
  ProxyPort    => $port,
  Listen       => 64,
  ReuseAddr    => 1
) or die "$SOCKS_ERROR\n";

while (1) {
  my $client = $server->accept() or next;
  my $pid = fork();
  if (!defined $pid || $pid) {    # the parent (or no child): next client
    $client->close();
    next;
  }
  $server->close();
  serve($client);
  exit 0;
}

sub serve {
  my ($client) = @_;
  my ($cmd, $host, $to_port) = @{ $client->command() || [] };
  my $target;
  # A dotted address is the plain SOCKS4 form: refused here.
  if ($cmd && $cmd == CMD_CONNECT && $host !~ /^[\d.]+$/) {
    my $ip = gethostbyname($host);
    if ($ip && (unpack('C', $ip) == 127)) {
      $target = IO::Socket::INET->new(PeerAddr => inet_ntoa($ip), PeerPort => $to_port, Timeout => 5);
    }
  }
  if (!$target) {
    $client->command_reply(REQUEST_FAILED, '0.0.0.0', 0);
    return;
  }
  $client->command_reply(REQUEST_GRANTED, $target->sockhost, $target->sockport);
  pipe_both($client, $target);
}

# Copies both ways until both sides have closed; a side's close is passed on as
# a half close.
sub pipe_both {
  my ($a, $b) = @_;
  my %peer = ($a => $b, $b => $a);
  my $select = IO::Select->new($a, $b);
  while ($select->count()) {
    my @ready = $select->can_read(30);
    return unless @ready;    # idle for 30 s: the test is long gone
    for my $s (@ready) {
      my $n = sysread($s, my $data, 65536);
      if (!$n) {
        $select->remove($s);
        shutdown($peer{$s}, 1);
        next;
      }
      my $off = 0;
      while ($off < $n) {
        my $w = syswrite($peer{$s}, $data, $n - $off, $off);
        return unless defined $w;
        $off += $w;
      }
    }
  }
}
