# Writes the MD5 of INPUT as 32 lowercase hex digits to OUTPUT: an expected
# digest from an implementation independent of the updater's own.
file(MD5 "${INPUT}" digest)
file(WRITE "${OUTPUT}" "${digest}")
