#!/usr/bin/perl
# Writes the test database of quillwave-geo's tests: a small MaxMind DB file of
# the city layout, made at test time so that no database file is kept in the
# repository.
#   perl write_test_database.pl OUT.mmdb [first|second|float]
# "second" differs from "first" only for 127.0.0.0/8 and in its build time,
# so a reload shows in the answers of loopback clients; "float" stores the
# coordinates as single-precision numbers, as some vendors' databases do.
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;

my ($out, $variant) = @ARGV;
die "usage: $0 OUT.mmdb [first|second|float]\n" unless defined $out;
$variant //= 'first';
die "variant is first, second or float\n" unless $variant =~ /^(first|second|float)$/;

my %types = (
    country   => 'map',
    iso_code  => 'utf8_string',
    location  => 'map',
    latitude  => $variant eq 'float' ? 'float' : 'double',
    longitude => $variant eq 'float' ? 'float' : 'double',
    time_zone => 'utf8_string',
);
my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version               => 6,
    record_size              => 28,
    database_type            => 'Quillwave-Test-City',
    languages                => ['en'],
    description              => { en => 'quillwave-geo test database' },
    map_key_type_callback    => sub { $types{ $_[0] } },
    remove_reserved_networks => 0,    # every network here is a reserved one
    alias_ipv6_to_ipv4       => 1,
);
$tree->_set_build_epoch($variant eq 'second' ? 1706745600 : 1704067200);    # 2024-01-01, 2024-02-01

sub place {
    my ($country, $zone, $latitude, $longitude) = @_;
    return { country => { iso_code => $country },
             location => { time_zone => $zone, latitude => $latitude, longitude => $longitude } };
}
$tree->insert_network('203.0.113.0/24', place('DE', 'Europe/Berlin', 52.52, 13.405));
$tree->insert_network('2001:db8:1::/48', place('JP', 'Asia/Tokyo', 35.6895, 139.6917));
$tree->insert_network('::1/128', place('NZ', 'Pacific/Auckland', -36.8485, 174.7633));
# A network the database knows only the country of.
$tree->insert_network('198.51.100.0/24', { country => { iso_code => 'BR' } });
$tree->insert_network('127.0.0.0/8',
    $variant eq 'second' ? place('IT', 'Europe/Rome', 41.9028, 12.4964) : place('FR', 'Europe/Paris', 48.8566, 2.3522));

my $temporary = "$out.part";
open(my $file, '>:raw', $temporary) or die "cannot write $temporary: $!\n";
$tree->write_tree($file);
close($file) or die "cannot write $temporary: $!\n";
rename($temporary, $out) or die "cannot rename $temporary: $!\n";
