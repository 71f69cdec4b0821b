#!/usr/bin/perl
# Writes a small location database for the tests: make_test_mmdb.pl OUT.mmdb
use strict;
use warnings;
use utf8;

use MaxMind::DB::Writer::Tree;

my $out = shift or die "usage: $0 OUT.mmdb\n";

my %types = (
    city    => 'map',
    country => 'map',
    names   => 'map',
    en      => 'utf8_string',
    de      => 'utf8_string',
);

my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version            => 6,
    record_size           => 24,
    database_type         => 'Corvatel-Test',
    languages             => ['en'],
    description           => { en => 'Corvatel test locations' },
    # Loopback and private networks are where the tests' proxies live.
    remove_reserved_networks => 0,
    map_key_type_callback => sub { $types{ $_[0] } },
);

sub place {
    my ( $city, $country ) = @_;
    my %record;
    $record{city}    = { names => { en => $city } }    if defined $city;
    $record{country} = { names => { en => $country } } if defined $country;
    return \%record;
}

$tree->insert_network( '127.0.0.0/8',    place( 'Loopback City', 'Loopback Land' ) );
$tree->insert_network( '10.0.0.0/8',     place( undef,           'Private Land' ) );
$tree->insert_network( '172.16.0.0/12',  place( 'Lone City',     undef ) );
$tree->insert_network( '192.168.0.0/16', place( "Pipe|Town\nEast", "Line\r\nLand" ) );
# Names in another language only.
$tree->insert_network( '100.64.0.0/10',
    { city => { names => { de => 'Nirgendwo' } }, country => { names => { de => 'Irgendwo' } } } );
$tree->insert_network( '2001:db8::/32',  place( 'Zürich',        'Schweiz' ) );

open my $fh, '>:raw', $out or die "cannot write $out: $!\n";
$tree->write_tree($fh);
close $fh or die "cannot write $out: $!\n";
