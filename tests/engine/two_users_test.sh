#!/usr/bin/env bash
# Two users of one machine share the temporary directory. The first one's result file stays
# there, and the directory's sticky bit lets no one else replace it: the other user's runs must
# still give a result, in a file of their own that the status names and the viewer opens, while
# the first user's runs go on as before.
# Usage: two_users_test.sh WINDOW_RUN   (as root, which may add the two users; else exit 77)
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: adding users needs root"; exit 77; }
command -v useradd >/dev/null || { echo "skipped: no useradd"; exit 77; }

scratch=$(mktemp -d)
users=()
cleanup() {
  for user in "${users[@]}"; do userdel "$user" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
for who in a b; do
  user=listwise-$who-$$
  useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  users+=("$user")
done
first=${users[0]}
second=${users[1]}

# A directory like /tmp, and what the users may read: the program and a list for each.
chmod 0755 "$scratch"
shared=$scratch/tmp
mkdir -m 1777 "$shared"
install -m 0755 "$1" "$scratch/window_run"
printf 'a\r\na' >"$scratch/$first.txt"
printf 'b\r\nb' >"$scratch/$second.txt"
chmod 0644 "$scratch"/*.txt
fixed=$shared/~ListwiseData.txt

failures=0
# user, where the result must go, whether the status must name that place
check_run() {
  local user=$1 wanted=$2 named=$3
  local out status viewer item
  # The leak suppressions of a sanitized build are for the desktop's libraries, which the engine
  # does not use, and may lie where these users cannot read them.
  out=$(env -u LSAN_OPTIONS setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
    "$scratch/window_run" "$shared" "$scratch/$user.txt")
  status=$(sed -n 's/^status://p' <<<"$out")
  viewer=$(sed -n 's/^viewer://p' <<<"$out")
  item=${user#listwise-}
  item=${item%%-*}
  local problems=()
  [ "$viewer" = "$wanted" ] || problems+=("viewer on '$viewer'")
  if [ "$named" = named ]; then
    [[ "$status" == *" мсек; записано в $wanted" ]] || problems+=("status '$status'")
  else
    [[ "$status" == *" мсек" ]] || problems+=("status '$status'")
  fi
  [ "$(stat -c '%U %a' "$wanted" 2>/dev/null)" = "$user 600" ] ||
    problems+=("file $(stat -c '%U %a' "$wanted" 2>&1)")
  [ "$(cat "$wanted" 2>/dev/null)" = $'\xef\xbb\xbf'"$item" ] || problems+=("content wrong")
  if [ ${#problems[@]} -gt 0 ]; then
    echo "FAIL: $user, result wanted in $wanted: ${problems[*]}"
    failures=$((failures + 1))
  fi
}

check_run "$first" "$fixed" unnamed
check_run "$second" "$shared/~ListwiseData-$second.txt" named
# The first user's file is untouched by the second one's run, and still the first one's own.
check_run "$first" "$fixed" unnamed
rm "$fixed"
check_run "$second" "$fixed" unnamed

[ "$failures" -eq 0 ] || exit 1
echo "two users: each run gave its result where expected"
