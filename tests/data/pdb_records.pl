#!/usr/bin/perl
# Prints what Perl's Palm::PDB reads from the Palm database named on the
# command line, one line per item, for the tests to compare with what crate
# was given:
#   name <database name>
#   type <type>
#   creator <creator>
#   records <count>
#   record <unique ID> <attributes: flags joined by ",", or "none"> <category> <bytes in hexadecimal>
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;

@ARGV == 1 or die "usage: pdb_records.pl database.pdb\n";
my $pdb = Palm::PDB->new;
$pdb->Load($ARGV[0]) or die "Palm::PDB cannot load $ARGV[0]\n";
print "name $pdb->{name}\n";
print "type $pdb->{type}\n";
print "creator $pdb->{creator}\n";
my @records = @{ $pdb->{records} // [] };
print "records ", scalar(@records), "\n";
for my $r (@records) {
    my @flags = sort grep { $r->{attributes}{$_} } keys %{ $r->{attributes} // {} };
    printf "record %d %s %s %s\n", $r->{id}, (@flags ? join(",", @flags) : "none"), $r->{category} // "-",
        unpack("H*", $r->{data});
}
