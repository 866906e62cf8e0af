; away.mrc - a small sample script for trying the loader.
on *:LOAD:{ echo -a away.mrc loaded }
alias back { away | echo -a Welcome back. }
alias gone { away $iif($1-,$1-,Gone for a while) }
