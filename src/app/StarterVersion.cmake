# Writes the starter directory's version stamp: the SHA-256 of its CSV, one line.
# Usage: cmake -DCSV=data/newspapers.csv -DOUT=starter/starter-version -P StarterVersion.cmake
file(SHA256 ${CSV} hash)
file(WRITE ${OUT}.new "${hash}\n")
file(RENAME ${OUT}.new ${OUT})
